// Headless Chromium through playwright-core, and the page-side reads the tests share: the panel's
// controls as displayed, and the viewer's pixels.
import {createRequire} from 'node:module';
import path from 'node:path';

// playwright-core is installed by `npm ci` into the build folder (VARNEX_NODE_PREFIX), not beside
// these sources, so it is required from there.
const prefix = process.env.VARNEX_NODE_PREFIX;
if (!prefix) throw new Error('VARNEX_NODE_PREFIX must name the folder npm ci installed into');
const {chromium} = createRequire(path.join(prefix, 'package.json'))('playwright-core');

export const ACTION_MS = 30_000;
// A full render of a tiny picture on llvmpipe takes well under a second; this bounds a hang.
export const RENDER_MS = 60_000;

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.VARNEX_CHROMIUM || '/usr/bin/chromium',
    // Chromium's sandbox refuses to start as root, which is how CI runs.
    args: ['--no-sandbox'],
    timeout: ACTION_MS,
  });
}

// A new page on the server, with the viewer's preview requests tracked (see settle), loaded until
// its first full render is shown.
export async function openPage(browser, server, {viewport = { width: 1280, height: 800}} = {}) {
  const context = await browser.newContext({viewport, deviceScaleFactor: 1});
  const page = await context.newPage();
  page.setDefaultTimeout(ACTION_MS);
  page.requested = [];
  page.on('request', (request) => {
    if (request.method() === 'POST' && new URL(request.url()).pathname === '/api/preview') {
      try {
        page.requested.push(JSON.parse(request.postData()));
      } catch {
        // Not ours to judge here; the server answers 400 and the tests see no image.
      }
    }
  });
  page.problems = [];
  page.on('pageerror', (error) => page.problems.push(`page error: ${error.message}`));
  // A failed request also logs a console error that does not name it; the response does.
  // A picture that a newer one overtook between its event and its fetch is answered 404 by
  // design, and the page drops it; every other failure counts.
  page.on('response', (response) => {
    const superseded =
        response.status() === 404 && new URL(response.url()).pathname.startsWith('/api/image/');
    if (response.status() >= 400 && !superseded) {
      page.problems.push(
          `${response.status()} for ${response.request().method()} ${response.url()}`);
    }
  });
  page.on('console', (message) => {
    if (message.type() === 'error' && !message.text().startsWith('Failed to load resource')) {
      page.problems.push(`console: ${message.text()}`);
    }
  });
  await page.goto(server.url);
  await page.waitForFunction(() => document.body.dataset.ready === '1', null, {timeout: RENDER_MS});
  return page;
}

// Runs action (which changes something the picture depends on) and waits until the viewer shows
// the full render of the newest preview request made after it. Returns that request's seq.
export async function settle(page, action) {
  const before = page.requested.length;
  await action();
  const deadline = Date.now() + RENDER_MS;
  for (;;) {
    const newer = page.requested.slice(before).filter((request) => !request.draft);
    if (newer.length > 0) {
      const seq = newer[newer.length - 1].seq;
      const shown =
          await page
              .waitForFunction(
                  (wanted) => {
                    const viewer = document.querySelector('#viewer');
                    return viewer.dataset.draft === '0' && Number(viewer.dataset.seq) >= wanted;
                  },
                  seq,
                  {timeout: 1000},
                  )
              .then(() => true, () => false);
      // A newer request may have been made while waiting; only the newest counts.
      const latest = page.requested.slice(before).filter((request) => !request.draft);
      if (shown && latest[latest.length - 1].seq === seq) return seq;
    }
    if (Date.now() > deadline) {
      throw new Error(`no full render shown after the action (preview requests: ${
          JSON.stringify(page.requested.slice(before))})`);
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// The viewer's picture at its own size, as 8-bit RGBA rows, from the canvas's backing store (the
// zoom scales only its on-screen size).
export async function viewerPixels(page) {
  const {width, height, data} = await page.locator('#viewer').evaluate((canvas) => {
    const image = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    return {width: image.width, height: image.height, data: Array.from(image.data)};
  });
  return {width, height, rgba: Uint8Array.from(data)};
}

// The panel as the user sees it: index, identifier, label, whether the visibility rules display it
// and whether it is greyed out, for every .control element. A control inside a closed group still
// counts as displayed: only its own style says whether the rules hide it.
export async function panelControls(page) {
  return page.$$eval(
      '#panel .control',
      (elements) =>
          elements.map((element) => ({
                         index: Number(element.dataset.index),
                         identifier: element.dataset.identifier,
                         label: element.querySelector('.label')?.textContent.trim() ?? '',
                         displayed: getComputedStyle(element).display !== 'none' && !element.hidden,
                         disabled: element.classList.contains('disabled'),
                       })),
  );
}

export function control(page, identifier) {
  return page.locator(`#panel .control[data-identifier="${identifier}"]`);
}
