// Tiny footage for the browser tests, and the comparison of two RGBA pictures.
import {writeFile} from 'node:fs/promises';

import {encodePng} from './png.mjs';

export const WIDTH = 64;
export const HEIGHT = 48;

// An opaque input with detail in both directions, so that any displacement moves some pixel to a
// different colour: a diagonal colour ramp under a coarse checkerboard.
export function inputPicture() {
  const rgba = new Uint8Array(WIDTH * HEIGHT * 4);
  for (let y = 0; y < HEIGHT; y++) {
    for (let x = 0; x < WIDTH; x++) {
      const p = (y * WIDTH + x) * 4;
      const check = ((x >> 3) + (y >> 3)) & 1;
      rgba[p] = x * 4;
      rgba[p + 1] = y * 5;
      rgba[p + 2] = check ? 220 : 30;
      rgba[p + 3] = 255;
    }
  }
  return rgba;
}

// A grey map: a horizontal ramp with a bright square, so the displacement varies across the frame.
export function mapPicture() {
  const rgba = new Uint8Array(WIDTH * HEIGHT * 4);
  for (let y = 0; y < HEIGHT; y++) {
    for (let x = 0; x < WIDTH; x++) {
      const p = (y * WIDTH + x) * 4;
      const square = x >= 20 && x < 40 && y >= 12 && y < 30;
      const grey = square ? 250 : x * 3;
      rgba.fill(grey, p, p + 3);
      rgba[p + 3] = 255;
    }
  }
  return rgba;
}

export async function writeFootage(folder) {
  const input = `${folder}/input.png`;
  const map = `${folder}/map.png`;
  await writeFile(input, encodePng(WIDTH, HEIGHT, inputPicture()));
  await writeFile(map, encodePng(WIDTH, HEIGHT, mapPicture()));
  return {input, map};
}

// Where two pictures of the same size differ. A canvas keeps its pixels premultiplied, so a
// partly transparent pixel read back from it may be off by the rounding of that division; colour
// is compared only as far as the alpha lets it survive, and not at all where alpha is zero.
export function differences(a, b) {
  if (a.width !== b.width || a.height !== b.height) {
    return {count: -1, first: `sizes differ: ${a.width}×${a.height} and ${b.width}×${b.height}`};
  }
  let count = 0;
  let first = null;
  for (let p = 0; p < a.width * a.height; p++) {
    const alpha = a.rgba[p * 4 + 3];
    let same = alpha === b.rgba[p * 4 + 3];
    if (same && alpha > 0) {
      const slack = alpha === 255 ? 0 : Math.ceil(255 / alpha);
      for (let c = 0; c < 3; c++) same &&= Math.abs(a.rgba[p * 4 + c] - b.rgba[p * 4 + c]) <= slack;
    }
    if (!same) {
      count++;
      if (!first) {
        const x = p % a.width;
        const y = Math.floor(p / a.width);
        first = `pixel ${x},${y}: ${a.rgba.slice(p * 4, p * 4 + 4).join(',')} against ${
            b.rgba.slice(p * 4, p * 4 + 4).join(',')}`;
      }
    }
  }
  return {count, first};
}
