// The llhttp reading of each response (Node.js's own parser, strict: no
// lenient flag set): one hex line in, one JSON line out, as run.py reads
// it. The bytes are fed one at a time, so that the bytes left after the
// final response are known exactly; the end of the input is the peer's
// orderly close.
'use strict';
const { HTTPParser } = require('_http_common');
const readline = require('readline');

function read(buf) {
  const parser = new HTTPParser();
  parser.initialize(HTTPParser.RESPONSE, {}, 0, 0);
  let current = null;
  let final = null;
  let consumed = -1;
  parser[HTTPParser.kOnHeadersComplete] = (major, minor, headers, method, url, status, message, upgrade, keep) => {
    current = { status, keep, body: [] };
  };
  parser[HTTPParser.kOnBody] = (b, start, length) => {
    current.body.push(start === undefined ? Buffer.from(b) : Buffer.from(b.slice(start, start + length)));
  };
  parser[HTTPParser.kOnMessageComplete] = () => {
    // Interim answers go by; the first final one is the reading.
    if (current !== null && (current.status >= 200 || current.status === 101) && final === null) final = current;
  };
  let error = null;
  for (let i = 0; i < buf.length && final === null; i++) {
    const result = parser.execute(buf.slice(i, i + 1));
    if (result instanceof Error) {
      error = result.code || String(result);
      break;
    }
    if (final !== null) consumed = i + 1;
  }
  if (final === null && error === null) {
    const result = parser.finish();
    if (result instanceof Error) error = result.code || String(result);
    else if (final !== null) consumed = buf.length;
    else error = 'incomplete';
  }
  if (error !== null || final === null || final.status === 101) return { error: error || 'upgrade' };
  return {
    status: final.status,
    keep: final.keep && consumed === buf.length,
    body: Buffer.concat(final.body).toString('hex'),
  };
}

const lines = readline.createInterface({ input: process.stdin });
const out = [];
lines.on('line', (line) => out.push(JSON.stringify(read(Buffer.from(line.trim(), 'hex')))));
lines.on('close', () => process.stdout.write(out.join('\n') + (out.length ? '\n' : '')));
