// Reads web archives with warcio's parser and checks what they say: every record's block
// digest, every response's payload digest (the body with its transfer coding taken off by
// warcio's own dechunking). Prints one JSON line per record; exits 1 when a digest is wrong or
// a file does not read whole. With --any-payload, a payload digest computed otherwise (wget's, over
// the chunks as framed) is told but not counted.
//   NODE_PATH=<node_modules with warcio> node warc_check.cjs [--any-payload] FILE...
const { WARCParser, AsyncIterReader } = require("warcio");
const { createReadStream } = require("fs");
const { createHash } = require("crypto");
const { gunzipSync } = require("zlib");

const base32 = (bytes) => {
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  let bits = 0, value = 0, text = "";
  for (const byte of bytes) {
    value = (value << 8) | byte;
    bits += 8;
    while (bits >= 5) {
      text += alphabet[(value >>> (bits - 5)) & 31];
      bits -= 5;
    }
  }
  return bits > 0 ? text + alphabet[(value << (5 - bits)) & 31] : text;
};
const sha1 = (bytes) => "sha1:" + base32(createHash("sha1").update(bytes).digest());

async function check(file) {
  let bad = 0;
  const parser = new WARCParser(createReadStream(file), { parseHttp: false });
  for await (const record of parser) {
    const block = Buffer.from(await record.readFully(false));
    const line = {
      file, offset: parser.offset, type: record.warcType, uri: record.warcTargetURI,
      truncated: record.warcHeader("WARC-Truncated") || undefined,
      block: record.warcBlockDigest == null ? "none"
           : record.warcBlockDigest === sha1(block) ? "ok" : "bad",
    };
    if (record.warcType === "response") {
      const end = block.indexOf("\r\n\r\n");
      const head = block.subarray(0, end < 0 ? block.length : end).toString("latin1");
      line.status = (head.match(/^HTTP\/\S+ (\d{3})/) || [])[1];
      const field = (name) => (head.match(new RegExp("\r\n" + name + ":[ \t]*([^\r]*)", "i")) || [])[1];
      const body = end < 0 ? Buffer.alloc(0) : block.subarray(end + 4);
      const chunked = (field("Transfer-Encoding") || "").toLowerCase() === "chunked";
      const payload = Buffer.from(
        await new AsyncIterReader([body], null, chunked).readFully());
      const told = record.warcPayloadDigest;
      line.computed = sha1(payload);
      line.payload = told == null ? "none" : told === line.computed ? "ok" : "bad";
      line.digest = told;
      if (!line.truncated && line.status === "200") {
        const gzip = /^(x-)?gzip$/i.test(field("Content-Encoding") || "");
        line.content = createHash("sha1").update(gzip ? gunzipSync(payload) : payload).digest("hex");
      }
      bad += line.payload === "bad" && !anyPayload;
    }
    bad += line.block === "bad";
    console.log(JSON.stringify(line));
  }
  return bad;
}

const anyPayload = process.argv[2] === "--any-payload";
(async () => {
  let bad = 0;
  for (const file of process.argv.slice(anyPayload ? 3 : 2)) {
    try {
      bad += await check(file);
    } catch (error) {
      console.error(`${file}: ${error.message}`);
      bad += 1;
    }
  }
  process.exit(bad > 0 ? 1 : 0);
})();
