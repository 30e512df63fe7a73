// Starts the S3-compatible test server on 127.0.0.1 at a port the system picks, with one key
// pair and the bucket "testbucket", and writes the port to S3_PORT_FILE once it accepts requests.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const Module = require('module');
const path = require('path');
const { pipeline, Readable, Transform } = require('stream');

// The server escapes each XML text itself and then lets its builder escape it again, so a key
// holding "&" or "'" would be listed as "&amp;" or "&#x27;". Real services escape once: hand the
// server a builder that leaves its texts as they come.
const load = Module._load;
Module._load = function (request, ...rest) {
  const loaded = load.call(this, request, ...rest);
  if (request !== 'fast-xml-parser') return loaded;
  class EscapeOnceBuilder extends loaded.XMLBuilder {
    constructor(options) {
      super({ ...options, processEntities: false });
    }
  }
  return { ...loaded, XMLBuilder: EscapeOnceBuilder };
};

// With a delimiter the server does not enter folders two or more levels below the prefix, so a
// folder whose objects all lie that deep (no marker of its own, as any tool but a console leaves
// it) was missing from the listing; S3 lists it. Where the server would not enter a folder, it is
// still shown through the first object below it, which the listing turns into its common prefix.
// Set before the store's module takes its own reference to the walk.
const serverUtils = require('@20minutes/s3rver/lib/utils');
function firstObjectBelow(dir) {
  for (const file of serverUtils.walk(dir)) {
    if (file.endsWith('._S3rver_object')) return file;
  }
  return undefined;
}
serverUtils.walk = function* walk(dir, recurseFilter) {
  for (const filename of fs.readdirSync(dir)) {
    const filePath = path.posix.join(dir, filename);
    if (!fs.statSync(filePath).isDirectory()) {
      yield filePath;
    } else if (!recurseFilter || recurseFilter(filePath)) {
      yield* walk(filePath, recurseFilter);
    } else {
      const first = firstObjectBelow(filePath);
      if (first !== undefined) yield first;
    }
  }
};

const S3rver = require('@20minutes/s3rver');
const { DUMMY_ACCOUNT } = require('@20minutes/s3rver/lib/models/account');
const objectController = require('@20minutes/s3rver/lib/controllers/object');
const S3Error = require('@20minutes/s3rver/lib/models/error');
const FilesystemStore = require('@20minutes/s3rver/lib/stores/filesystem');

// As S3 does, a body must have the SHA-256 its request was signed with (x-amz-content-sha256);
// the server as shipped takes any body. The digest each request claims, by its body stream.
const claimedDigests = new WeakMap();
for (const name of ['putObject', 'uploadPart']) {
  const handler = objectController[name];
  objectController[name] = function (ctx) {
    const claimed = ctx.get('x-amz-content-sha256');
    if (/^[0-9A-Fa-f]{64}$/.test(claimed)) claimedDigests.set(ctx.req, claimed.toLowerCase());
    return handler.apply(this, arguments);
  };
}

function digestMismatch(claimed, computed) {
  const error = new S3Error(
    'XAmzContentSHA256Mismatch',
    "The provided 'x-amz-content-sha256' header does not match what was computed.",
    { ClientComputedContentSHA256: claimed, S3ComputedContentSHA256: computed },
  );
  error.status = 400;
  error.expose = true;
  return error;
}

// As S3 does, a PUT or a DELETE may carry a condition on the object it replaces or removes:
// "If-None-Match: *" (no object there) or "If-Match" with an entity tag (that object; "*": any). It
// is judged at the moment the write takes effect (for a PUT, once its whole body arrived), and one
// that fails is answered 412 PreconditionFailed, or 404 NoSuchKey for "If-Match" where there is no
// object. The server as shipped ignores both.
const writeConditions = new WeakMap();

function conditionsOf(ctx) {
  const ifMatch = ctx.get('if-match');
  const ifNoneMatch = ctx.get('if-none-match');
  if (!ifMatch && !ifNoneMatch) return undefined;
  return { ifMatch: ifMatch || undefined, ifNoneMatch: ifNoneMatch || undefined, key: ctx.params.key };
}

function unquoted(tag) {
  const bare = tag.trim().replace(/^W\//, '');
  return bare.length >= 2 && bare.startsWith('"') && bare.endsWith('"') ? bare.slice(1, -1) : bare;
}

// The entity tag of the object stored at `objectPath`, or undefined when there is none; read at
// once, so that nothing else runs between the judgement and the write that follows it.
function currentETag(objectPath) {
  if (!fs.existsSync(objectPath)) return undefined;
  try {
    return fs.readFileSync(`${objectPath}.md5`, 'utf8');
  } catch (err) {
    if (err.code !== 'ENOENT') throw err;
    return crypto.createHash('md5').update(fs.readFileSync(objectPath)).digest('hex');
  }
}

// Throws the error S3 answers when `conditions` do not hold for the object at `objectPath`.
function judgeConditions(conditions, objectPath) {
  if (!conditions) return;
  const etag = currentETag(objectPath);
  const failed = (header) => {
    const error = new S3Error('PreconditionFailed', 'At least one of the pre-conditions you specified did not hold', {
      Condition: header,
    });
    error.status = 412;
    error.expose = true;
    return error;
  };
  if (conditions.ifMatch !== undefined) {
    if (etag === undefined) {
      const error = new S3Error('NoSuchKey', 'The specified key does not exist.', { Key: conditions.key });
      error.status = 404;
      error.expose = true;
      throw error;
    }
    const wanted = conditions.ifMatch.split(',').map(unquoted);
    if (!wanted.includes('*') && !wanted.includes(etag)) throw failed('If-Match');
  }
  if (conditions.ifNoneMatch !== undefined && etag !== undefined) {
    const refused = conditions.ifNoneMatch.split(',').map(unquoted);
    if (refused.includes('*') || refused.includes(etag)) throw failed('If-None-Match');
  }
}

{
  const putObject = objectController.putObject;
  objectController.putObject = function (ctx) {
    const conditions = conditionsOf(ctx);
    if (conditions) writeConditions.set(ctx.req, conditions);
    return putObject.apply(this, arguments);
  };
  const deleteObject = objectController.deleteObject;
  objectController.deleteObject = function (ctx) {
    const conditions = conditionsOf(ctx);
    if (conditions) {
      // Judged before the removal starts, in the same turn as the removal's first step.
      judgeConditions(conditions, ctx.store.getResourcePath(ctx.params.bucket, ctx.params.key, 'object'));
    }
    return deleteObject.apply(this, arguments);
  };
}

// As S3 does, an object is replaced only by a whole, checked body: the bytes go to a temporary
// file beside the object (a name no listing shows) and are renamed over it at the end. An upload
// cut off half way, or refused, leaves the old object as it was; the server as shipped truncated
// the object the moment a PUT began.
let incoming = 0;
FilesystemStore.prototype.putContent = function (objectPath, content) {
  const temporary = `${objectPath}.incoming-${process.pid}-${++incoming}`;
  const claimed = Buffer.isBuffer(content) ? undefined : claimedDigests.get(content);
  const conditions = Buffer.isBuffer(content) ? undefined : writeConditions.get(content);
  return new Promise((resolve, reject) => {
    const md5 = crypto.createHash('md5');
    const sha256 = crypto.createHash('sha256');
    let length = 0;
    const counted = new Transform({
      transform(chunk, encoding, callback) {
        md5.update(chunk);
        sha256.update(chunk);
        length += chunk.length;
        callback(null, chunk);
      },
    });
    const source = Buffer.isBuffer(content) ? Readable.from([content]) : content;
    pipeline(source, counted, fs.createWriteStream(temporary), (err) => {
      const discard = (error) => fs.rm(temporary, { force: true }, () => reject(error));
      if (err) return discard(err);
      const computed = sha256.digest('hex');
      if (claimed !== undefined && claimed !== computed) return discard(digestMismatch(claimed, computed));
      // The condition, the rename and the new entity tag in one turn: no other request is judged
      // against a half-replaced object.
      const etag = md5.digest('hex');
      try {
        judgeConditions(conditions, objectPath);
        fs.renameSync(temporary, objectPath);
        fs.writeFileSync(`${objectPath}.md5`, etag);
      } catch (error) {
        return discard(error);
      }
      resolve([length, etag]);
    });
  });
};

// As S3 does, an object assembled from parts is tagged with the MD5 of its parts' MD5s and their
// count ("<hex>-<parts>"), which is no digest of its bytes; the server as shipped tagged it with
// the MD5 of the whole, which no client may count on.
const putObjectMultipart = FilesystemStore.prototype.putObjectMultipart;
FilesystemStore.prototype.putObjectMultipart = async function (bucket, uploadId, parts) {
  const upload = `${this.getResourcePath(bucket, undefined, 'uploads')}/${uploadId}`;
  const key = fs.readFileSync(`${upload}/key`).toString();
  // The digests the parts were stored with, read before the upload's folder goes.
  const ofParts = crypto.createHash('md5');
  for (const part of [...parts].sort((a, b) => a.number - b.number)) {
    ofParts.update(Buffer.from(fs.readFileSync(`${upload}/${part.number}.md5`).toString(), 'hex'));
  }
  const tag = `${ofParts.digest('hex')}-${parts.length}`;
  const result = await putObjectMultipart.call(this, bucket, uploadId, parts);
  fs.writeFileSync(this.getResourcePath(bucket, key, 'object.md5'), tag);
  return { ...result, md5: tag };
};

// Only our key pair may sign: the built-in one would let a test pass with the wrong secret.
DUMMY_ACCOUNT.revokeAccessKey('S3RVER');
DUMMY_ACCOUNT.createKeyPair(process.env.S3_ACCESS_KEY, process.env.S3_SECRET_KEY);

new S3rver({
  address: '127.0.0.1',
  port: 0,
  silent: true,
  directory: process.env.S3_DATA_DIR,
  configureBuckets: [{ name: process.env.S3_BUCKET, configs: [] }],
}).run((err, address) => {
  if (err) {
    console.error(err);
    process.exit(1);
  }
  const portFile = process.env.S3_PORT_FILE;
  fs.writeFileSync(portFile + '.tmp', String(address.port));
  fs.renameSync(portFile + '.tmp', portFile);
  console.log(`listening on 127.0.0.1:${address.port}`);
});
