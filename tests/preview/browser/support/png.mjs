// Just enough PNG for the browser tests: writing tiny 8-bit RGBA pictures for the server to load,
// and reading back what `varnex render` wrote (8 or 16 bits, grey, grey+alpha, RGB or RGBA,
// not interlaced). Pixels are always returned as 8-bit RGBA rows, top row first, like a canvas's
// ImageData, so the two can be compared directly.
import {deflateSync, inflateSync} from 'node:zlib';

const SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// rgba: width*height*4 bytes, top row first. Every row is stored unfiltered; size does not matter
// for pictures this small.
export function encodePng(width, height, rgba) {
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;  // bits per sample
  ihdr[9] = 6;  // RGBA
  const raw = Buffer.alloc(height * (1 + width * 4));
  for (let y = 0; y < height; y++) {
    raw[y * (1 + width * 4)] = 0;  // filter: none
    Buffer.from(rgba.buffer, rgba.byteOffset + y * width * 4, width * 4)
        .copy(raw, y * (1 + width * 4) + 1);
  }
  return Buffer.concat([
    SIGNATURE, chunk('IHDR', ihdr), chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))
  ]);
}

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a);
  const pb = Math.abs(p - b);
  const pc = Math.abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

const CHANNELS = {
  0: 1,
  2: 3,
  4: 2,
  6: 4
};

// Returns {width, height, rgba: Uint8Array}. Throws on anything it does not read (palette,
// interlacing, bit depths other than 8 and 16) rather than guessing.
export function decodePng(file) {
  if (!file.subarray(0, 8).equals(SIGNATURE)) throw new Error('not a PNG file');
  let offset = 8;
  let header = null;
  const idat = [];
  while (offset < file.length) {
    const length = file.readUInt32BE(offset);
    const type = file.toString('latin1', offset + 4, offset + 8);
    const data = file.subarray(offset + 8, offset + 8 + length);
    if (crc32(file.subarray(offset + 4, offset + 8 + length)) !==
        file.readUInt32BE(offset + 8 + length)) {
      throw new Error(`PNG chunk ${type}: bad CRC`);
    }
    if (type === 'IHDR') {
      header = {
        width: data.readUInt32BE(0),
        height: data.readUInt32BE(4),
        depth: data[8],
        colour: data[9],
        interlace: data[12],
      };
    } else if (type === 'IDAT') {
      idat.push(data);
    } else if (type === 'IEND') {
      break;
    }
    offset += 12 + length;
  }
  if (!header) throw new Error('PNG without IHDR');
  const {width, height, depth, colour, interlace} = header;
  const channels = CHANNELS[colour];
  if (!channels || (depth !== 8 && depth !== 16) || interlace !== 0) {
    throw new Error(
        `PNG colour type ${colour}, depth ${depth}, interlace ${interlace}: not read here`);
  }
  const bytesPerPixel = channels * (depth / 8);
  const stride = width * bytesPerPixel;
  const raw = inflateSync(Buffer.concat(idat));
  if (raw.length !== height * (stride + 1)) throw new Error('PNG image data has the wrong size');

  const rows = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const out = rows.subarray(y * stride, (y + 1) * stride);
    const prev = y > 0 ? rows.subarray((y - 1) * stride, y * stride) : null;
    for (let i = 0; i < stride; i++) {
      const a = i >= bytesPerPixel ? out[i - bytesPerPixel] : 0;
      const b = prev ? prev[i] : 0;
      const c = prev && i >= bytesPerPixel ? prev[i - bytesPerPixel] : 0;
      let predictor;
      switch (filter) {
        case 0:
          predictor = 0;
          break;
        case 1:
          predictor = a;
          break;
        case 2:
          predictor = b;
          break;
        case 3:
          predictor = (a + b) >> 1;
          break;
        case 4:
          predictor = paeth(a, b, c);
          break;
        default:
          throw new Error(`PNG row ${y}: unknown filter ${filter}`);
      }
      out[i] = (line[i] + predictor) & 0xff;
    }
  }

  // 16-bit samples keep their high byte; a browser drawing such a file may round instead, so
  // 16-bit files compare with a tolerance of one.
  const rgba = new Uint8Array(width * height * 4);
  const sample = depth === 8 ? (i) => rows[i] : (i) => rows[i * 2];
  for (let p = 0; p < width * height; p++) {
    const s = p * channels;
    const grey = channels <= 2;
    rgba[p * 4] = sample(s);
    rgba[p * 4 + 1] = sample(grey ? s : s + 1);
    rgba[p * 4 + 2] = sample(grey ? s : s + 2);
    rgba[p * 4 + 3] = channels === 2 ? sample(s + 1) : channels === 4 ? sample(s + 3) : 255;
  }
  return {width, height, rgba};
}
