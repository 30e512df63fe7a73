// Starts the S3-compatible test server on 127.0.0.1 at a port the system picks, with one key
// pair and the bucket "testbucket", and writes the port to S3_PORT_FILE once it accepts requests.
'use strict';
const fs = require('fs');
const Module = require('module');

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

const S3rver = require('@20minutes/s3rver');
const { DUMMY_ACCOUNT } = require('@20minutes/s3rver/lib/models/account');

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
