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

// As S3 does, an object is replaced only by a whole, checked body: the bytes go to a temporary
// file beside the object (a name no listing shows) and are renamed over it at the end. An upload
// cut off half way, or refused, leaves the old object as it was; the server as shipped truncated
// the object the moment a PUT began.
let incoming = 0;
FilesystemStore.prototype.putContent = function (objectPath, content) {
  const temporary = `${objectPath}.incoming-${process.pid}-${++incoming}`;
  const claimed = Buffer.isBuffer(content) ? undefined : claimedDigests.get(content);
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
      fs.rename(temporary, objectPath, (renameError) =>
        renameError ? discard(renameError) : resolve([length, md5.digest('hex')]),
      );
    });
  });
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
