#!/usr/bin/env node
// Prints known-answer vectors for the Rijndael cipher tests, computed by two independent
// JavaScript implementations that must agree on every vector before it is printed.
//
//   (cd scripts/cipher-vectors && npm ci) && node scripts/make-cipher-vectors.js \
//       > tests/config/vectors/rijndael.txt
//
// Each vector line: mode block_bytes key_hex iv_hex plain_hex cipher_hex ("-" for no iv).
'use strict';

const path = require('path');
const crypto = require('crypto');
const requireHere = require('module').createRequire(path.join(__dirname, 'cipher-vectors', 'package.json'));
const RijndaelJs = requireHere('rijndael-js');
const mcrypt = requireHere('js-rijndael');

const hex = (bytes) => Buffer.from(bytes).toString('hex').toUpperCase();
const fromHex = (text) => Array.from(Buffer.from(text, 'hex'));

function fail(message) {
  process.stderr.write(`make-cipher-vectors: ${message}\n`);
  process.exit(1);
}

// Deterministic bytes, so that running the script again prints the same file.
function bytes(label, count) {
  const out = [];
  for (let i = 0; out.length < count; ++i)
    out.push(...crypto.createHash('sha256').update(`${label}/${i}`).digest());
  return out.slice(0, count);
}

const cipherName = { 16: 'rijndael-128', 24: 'rijndael-192', 32: 'rijndael-256' };

function encryptA(mode, key, iv, plain, block) {
  const c = new RijndaelJs(Buffer.from(key), mode);
  return Array.from(c.encrypt(Buffer.from(plain), block * 8, iv ? Buffer.from(iv) : undefined));
}

function decryptA(mode, key, iv, sealed, block) {
  const c = new RijndaelJs(Buffer.from(key), mode);
  return Array.from(c.decrypt(Buffer.from(sealed), block * 8, iv ? Buffer.from(iv) : undefined));
}

function encryptB(mode, key, iv, plain, block) {
  return Array.from(mcrypt.encrypt(plain.slice(), iv ? iv.slice() : null, key.slice(), cipherName[block],
                                   mode === 'cfb' ? 'ncfb' : mode));
}

// Full-block cipher feedback built from single-block encryptions of the first library.
function cfbFromBlocks(key, iv, plain, block) {
  const out = [];
  let feedback = iv;
  for (let pos = 0; pos < plain.length; pos += block) {
    const stream = encryptA('ecb', key, null, feedback, block);
    const chunk = plain.slice(pos, pos + block).map((b, i) => b ^ stream[i]);
    out.push(...chunk);
    feedback = chunk;
  }
  return out;
}

const same = (a, b) => a.length === b.length && a.every((v, i) => v === b[i]);

// The first library must reproduce the published AES vectors (16-byte blocks) before any
// of its 24- and 32-byte block results are trusted.
const aesPlain = fromHex('00112233445566778899AABBCCDDEEFF');
const aesKey = fromHex('000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F');
const aesKnown = {
  16: '69C4E0D86A7B0430D8CDB78070B4C55A',
  24: 'DDA97CA4864CDFE06EAF70A0EC0D7191',
  32: '8EA2B7CA516745BFEAFC49904B496089',
};
for (const keyLen of [16, 24, 32]) {
  const got = hex(encryptA('ecb', aesKey.slice(0, keyLen), null, aesPlain, 16));
  if (got !== aesKnown[keyLen])
    fail(`AES-${keyLen * 8} known answer differs: ${got}`);
}

const lines = [];
function emit(mode, block, key, iv, plain, sealed) {
  lines.push([mode, block, hex(key), iv ? hex(iv) : '-', hex(plain), hex(sealed)].join(' '));
}

function check(mode, block, key, iv, plain) {
  const a = mode === 'cfb' ? cfbFromBlocks(key, iv, plain, block) : encryptA(mode, key, iv, plain, block);
  const b = encryptB(mode, key, iv, plain, block);
  if (!same(a, b))
    fail(`${mode} block ${block} key ${key.length}: the two libraries disagree`);
  if (mode !== 'cfb' && !same(decryptA(mode, key, iv, a, block), plain))
    fail(`${mode} block ${block} key ${key.length}: deciphering does not give the plain text back`);
  emit(mode, block, key, iv, plain, a);
}

for (const block of [16, 24, 32]) {
  for (const keyLen of [16, 24, 32]) {
    const key = bytes(`key-${block}-${keyLen}`, keyLen);
    const iv = bytes(`iv-${block}-${keyLen}`, block);
    check('ecb', block, key, null, bytes(`ecb-${block}-${keyLen}`, 3 * block));
    check('cbc', block, key, iv, bytes(`cbc-${block}-${keyLen}`, 3 * block));
    check('cfb', block, key, iv, bytes(`cfb-${block}-${keyLen}`, 3 * block));
  }
}

// The enciphered settings value: 32-byte block and key, the 64-byte field holding the text,
// its zero and zero padding.
const iniKey = Array.from(Buffer.from('5B1E97C0D24A4F3B8E6C0A7D19F2E3C4', 'ascii'));
for (const text of ['', 'secret1234', 'p@ss w0rd with 32 characters!!!', 'x'.repeat(63)]) {
  const field = new Array(64).fill(0);
  Buffer.from(text, 'utf8').forEach((b, i) => { field[i] = b; });
  check('ecb', 32, iniKey, null, field);
}

process.stdout.write('# Rijndael known-answer vectors made by scripts/make-cipher-vectors.js.\n' +
                     '# mode block_bytes key_hex iv_hex plain_hex cipher_hex\n' + lines.join('\n') + '\n');
