// `varnex preview` as a user drives it: a real server on a loopback port, the real page in a
// headless Chromium, the real module behind both. Each case gets a server and a page of its own.
import assert from 'node:assert/strict';
import {mkdtemp, readFile, rm, writeFile} from 'node:fs/promises';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';

import {ACTION_MS, control, launchBrowser, openPage, panelControls, RENDER_MS, settle, viewerPixels} from './support/browser.mjs';
import {differences, HEIGHT, inputPicture, mapPicture, WIDTH, writeFootage} from './support/pictures.mjs';
import {decodePng} from './support/png.mjs';
import {startPreview, varnex} from './support/server.mjs';

const CASE_MS = 120_000;
const LAST_FRAME = 8;

let browser;
let work;
let footage;

before(async () => {
  work = await mkdtemp(path.join(tmpdir(), 'varnex-preview-test-'));
  footage = await writeFootage(work);
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  if (work) await rm(work, {recursive: true, force: true});
});

// Runs body(server, page) against a fresh server on the tiny footage; the server is stopped by pid
// and the page closed whatever happens. A clean run also checks that the page reported no script
// error and that the server ended with status 0 on SIGTERM.
async function withPreview(body, {args = [], viewport} = {}) {
  const server = await startPreview(
      args.length ? args : [footage.input, '--map', footage.map, '-f', `0-${LAST_FRAME}`],
      {cwd: work},
  );
  let page;
  let ended;
  try {
    page = await openPage(browser, server, {viewport});
    await body(server, page);
    assert.deepEqual(page.problems, [], 'the page reported errors');
  } catch (error) {
    // What the page and the server said is usually what explains a failure here.
    const status = await page?.locator('#status').textContent({timeout: 1000}).catch(() => null);
    const said = `\npage status: ${status}\npage problems: ${JSON.stringify(page?.problems)}` +
        `\nvarnex preview said:\n${server.stderr}`;
    // The runner prints the stack, which was fixed when the error was made.
    error.message += said;
    if (error.stack) error.stack += said;
    throw error;
  } finally {
    await page?.context().close();
    ended = await server.stop();
  }
  assert.deepEqual(ended, {code: 0, signal: null}, `varnex preview on SIGTERM\n${server.stderr}`);
}

// Types a value into a slider's number field and leaves it, as a user does; waits for the render
// and returns its seq.
async function typeValue(page, identifier, value) {
  const field = control(page, identifier).locator('input[type=number]');
  return settle(page, async () => {
    await field.fill(String(value));
    await field.press('Tab');
  });
}

async function shownNumber(page, identifier) {
  return Number(await control(page, identifier).locator('input[type=number]').inputValue());
}

async function moveTimeline(page, frame) {
  await settle(
      page,
      () => page.locator('#frame').evaluate(
          (slider, value) => {
            slider.value = String(value);
            slider.dispatchEvent(new Event('input', {bubbles: true}));
            slider.dispatchEvent(new Event('change', {bubbles: true}));
          },
          frame),
  );
}

// What `varnex render ARGS` writes, decoded: a still into a PNG in the test's folder.
async function rendered(name, args) {
  const output = path.join(work, name);
  await varnex(['render', ...args, '-o', output, '-q'], {cwd: work});
  return decodePng(await readFile(output));
}

function keyButton(page, identifier) {
  return control(page, identifier).locator('button.keyframe');
}

function byIdentifier(controls) { return new Map(controls.map((c) => [c.identifier, c])); }

describe('varnex preview in a browser', {timeout: 10 * CASE_MS}, () => {
  test(
      'the panel shows the controls the visibility rules show, and only those', {timeout: CASE_MS},
      async () => {
        const {stdout} = await varnex(['controls', '--json']);
        const declared = JSON.parse(stdout);
        await withPreview(async (server, page) => {
          const panel = byIdentifier(await panelControls(page));
          const state = byIdentifier((await server.state()).controls);
          const wrong = [];
          for (const c of declared) {
            const visible = state.get(c.identifier)?.visible;
            if (visible !== c.shown) wrong.push(`${c.identifier}: state says visible ${visible}`);
            // A group's end has nothing to show, whatever its element's style.
            if (c.kind === 'group_end') continue;
            const shown = panel.get(c.identifier);
            const displayed = shown?.displayed ?? false;
            if (displayed !== c.shown)
              wrong.push(`${c.identifier}: displayed ${displayed}, declared shown ${c.shown}`);
            if (!displayed) continue;
            if (shown.index !== c.index) wrong.push(`${c.identifier}: data-index ${shown.index}`);
            if (c.label && shown.label !== c.label)
              wrong.push(`${c.identifier}: label "${shown.label}", declared "${c.label}"`);
            if (shown.disabled === state.get(c.identifier).enabled)
              wrong.push(`${c.identifier}: greyed ${shown.disabled} in the page, not in the state`);
          }
          assert.deepEqual(wrong, []);
          // The plug-in greys out the popups that only report the GPU driver.
          for (const identifier of ['PARAM_VERSION', 'PARAM_VENDOR', 'PARAM_RENDERER']) {
            assert.equal(await control(page, identifier).locator('select').isDisabled(), true);
          }
          assert.equal(
              await control(page, 'PARAM_MAP_LAYER').locator('.layer-name').textContent(),
              path.basename(footage.map));
          const {width, height} = await viewerPixels(page);
          assert.deepEqual([width, height], [WIDTH, HEIGHT]);
          assert.match(
              await page.locator('#info').textContent(),
              new RegExp(`^\\d+ ms · ${WIDTH} × ${HEIGHT}$`));
        });
      });

  test(
      'turning "Uniform Scale" off shows "Scale Y" and names "Scale X" again', {timeout: CASE_MS},
      async () => {
        await withPreview(async (server, page) => {
          const scaleX = control(page, 'PARAM_SCALE_X');
          const scaleY = control(page, 'PARAM_SCALE_Y');
          const uniform = control(page, 'PARAM_UNIFORM_SCALE').locator('input[type=checkbox]');
          assert.equal(await scaleX.locator('.label').textContent(), 'Scale');
          assert.equal(await scaleY.isVisible(), false);

          await settle(page, () => uniform.uncheck());
          await scaleY.waitFor({state: 'visible'});
          assert.equal((await scaleX.locator('.label').textContent()).trim(), 'Scale X');
          assert.equal(await shownNumber(page, 'PARAM_SCALE_Y'), 100);
          const state = byIdentifier((await server.state()).controls);
          assert.equal(state.get('PARAM_UNIFORM_SCALE').value, false);
          assert.equal(state.get('PARAM_SCALE_Y').visible, true);

          await settle(page, () => uniform.check());
          await scaleY.waitFor({state: 'hidden'});
          assert.equal((await scaleX.locator('.label').textContent()).trim(), 'Scale');
        });
      });

  test(
      '"Reset Transforms" restores the defaults in one step that Undo takes back',
      {timeout: CASE_MS}, async () => {
        const edited =
            {PARAM_TRANSLATE_X: 12.5, PARAM_ROTATE: 30, PARAM_SCALE_X: 150, PARAM_ANCHOR_Y: 20};
        const defaults =
            {PARAM_TRANSLATE_X: 0, PARAM_ROTATE: 0, PARAM_SCALE_X: 100, PARAM_ANCHOR_Y: 50};
        const shownValues = async (page) => {
          const values = {};
          for (const identifier of Object.keys(edited))
            values[identifier] = await shownNumber(page, identifier);
          return values;
        };
        await withPreview(async (server, page) => {
          for (const [identifier, value] of Object.entries(edited))
            await typeValue(page, identifier, value);
          assert.deepEqual(await shownValues(page), edited);

          await settle(
              page,
              () =>
                  control(page, 'PARAM_RESET_TRANSFORMS').locator('button:not(.keyframe)').click());
          assert.deepEqual(await shownValues(page), defaults);
          const state = await server.state();
          assert.deepEqual([state.can_undo, state.undo_name], [true, 'Reset Transform Controls']);

          await settle(page, () => page.locator('#undo').click());
          assert.deepEqual(await shownValues(page), edited);
          const values = byIdentifier((await server.state()).controls);
          for (const [identifier, value] of Object.entries(edited))
            assert.equal(values.get(identifier).value, value, identifier);

          await settle(page, () => page.locator('#redo').click());
          assert.deepEqual(await shownValues(page), defaults);
        });
      });

  test(
      'moving "Translate X" changes the picture, and Undo brings the same picture back',
      {timeout: CASE_MS}, async () => {
        await withPreview(async (server, page) => {
          await page.locator('#zoom').selectOption('100');
          const original = await viewerPixels(page);
          await typeValue(page, 'PARAM_TRANSLATE_X', 10);
          const moved = await viewerPixels(page);
          const changed = differences(original, moved);
          // A tenth of the frame's width moves most of this picture's pixels onto other colours.
          assert.ok(changed.count > (WIDTH * HEIGHT) / 4, `only ${changed.count} pixels changed`);

          await settle(page, () => page.locator('#undo').click());
          assert.equal(await shownNumber(page, 'PARAM_TRANSLATE_X'), 0);
          const back = differences(original, await viewerPixels(page));
          assert.equal(back.count, 0, back.first);
        });
      });

  test(
      'dragging a slider shows drafts, and letting go the full render `varnex render` makes',
      {timeout: CASE_MS}, async () => {
        await withPreview(async (server, page) => {
          const range = control(page, 'PARAM_TRANSLATE_X').locator('input[type=range]');
          const drag = (value, type) => range.evaluate((slider, [v, t]) => {
            slider.value = String(v);
            slider.dispatchEvent(new Event(t, {bubbles: true}));
          }, [value, type]);
          await settle(page, async () => {
            await drag(3, 'input');
            await page.locator('#viewer[data-draft="1"]').waitFor({state: 'attached'});
            await drag(6, 'input');
            await drag(6, 'change');
          });
          assert.ok(page.requested.some((r) => r.draft), 'no draft was asked for');
          assert.equal(await shownNumber(page, 'PARAM_TRANSLATE_X'), 6);

          const expected = await rendered(
              'dragged.png', [footage.input, '--map', footage.map, '-s', 'Translate X=6']);
          const mismatch = differences(expected, await viewerPixels(page));
          assert.equal(mismatch.count, 0, mismatch.first);
        });
      });

  test(
      'a second page on the same server follows the changes made in the first', {timeout: CASE_MS},
      async () => {
        await withPreview(async (server, page) => {
          const other = await openPage(browser, server);
          try {
            const seq = await typeValue(page, 'PARAM_TRANSLATE_X', 8);
            await other.waitForFunction(
                (wanted) => document.querySelector('#viewer').dataset.seq === String(wanted), seq,
                {timeout: RENDER_MS});
            assert.equal(await shownNumber(other, 'PARAM_TRANSLATE_X'), 8);
            const mismatch = differences(await viewerPixels(page), await viewerPixels(other));
            assert.equal(mismatch.count, 0, mismatch.first);
            assert.deepEqual(other.problems, []);
          } finally {
            await other.context().close();
          }
        });
      });

  test(
      'the View popup shows the input and the map as they were loaded', {timeout: CASE_MS},
      async () => {
        await withPreview(async (server, page) => {
          const result = await viewerPixels(page);
          for (const [view, picture] of [
                   ['input', inputPicture()], ['map', mapPicture()], ['result', null]]) {
            await settle(page, () => page.locator('#view').selectOption(view));
            assert.equal(await page.locator('#viewer').getAttribute('data-view'), view);
            const expected = picture ? {width: WIDTH, height: HEIGHT, rgba: picture} : result;
            const mismatch = differences(expected, await viewerPixels(page));
            assert.equal(mismatch.count, 0, `${view}: ${mismatch.first}`);
          }
        });
      });

  test(
      'the Rotate dial follows the pointer round, counting whole turns', {timeout: CASE_MS},
      async () => {
        await withPreview(async (server, page) => {
          const box = await control(page, 'PARAM_ROTATE').locator('.dial').boundingBox();
          // Up is 0 degrees and angles turn clockwise, as the effect's rotation does.
          const at = (degrees) => {
            const radians = (degrees * Math.PI) / 180;
            return [
              box.x + box.width / 2 + (Math.sin(radians) * box.width) / 3,
              box.y + box.height / 2 - (Math.cos(radians) * box.height) / 3,
            ];
          };
          // The pointer goes round clockwise from one angle to another in small steps.
          const turn = (from, to) => settle(page, async () => {
            await page.mouse.move(...at(from));
            await page.mouse.down();
            for (let degrees = from + 15; degrees <= to; degrees += 15)
              await page.mouse.move(...at(degrees));
            await page.mouse.up();
          });
          await turn(0, 270);
          assert.equal(await shownNumber(page, 'PARAM_ROTATE'), 270);
          assert.equal(
              byIdentifier((await server.state()).controls).get('PARAM_ROTATE').value, 270);

          // A second drag from there on over the top counts the turn: the pointer at 90 reads 450.
          await turn(270, 450);
          assert.equal(await shownNumber(page, 'PARAM_ROTATE'), 450);
        });
      });

  test('the timeline moves a keyframed control between its keys', {timeout: CASE_MS}, async () => {
    await withPreview(async (server, page) => {
      const state = await server.state();
      assert.deepEqual([state.first, state.last, state.frame], [0, LAST_FRAME, 0]);
      const key = keyButton(page, 'PARAM_ROTATE');

      await typeValue(page, 'PARAM_ROTATE', 10);
      await settle(page, () => key.click());
      assert.equal(await key.evaluate((b) => b.classList.contains('on')), true);

      await moveTimeline(page, LAST_FRAME);
      assert.equal(await page.locator('#viewer').getAttribute('data-frame'), String(LAST_FRAME));
      assert.match(
          await page.locator('#frame-number').textContent(), new RegExp(`\\b${LAST_FRAME}\\b`));
      assert.equal(await key.evaluate((b) => b.classList.contains('on')), false);
      await typeValue(page, 'PARAM_ROTATE', 50);
      assert.equal(await key.evaluate((b) => b.classList.contains('on')), true);
      const rotate = byIdentifier((await server.state()).controls).get('PARAM_ROTATE');
      assert.deepEqual([rotate.animated, rotate.keyframes], [true, [0, LAST_FRAME]]);

      // Keys interpolate linearly: half way between them is half way between their values.
      await moveTimeline(page, LAST_FRAME / 2);
      assert.equal(await shownNumber(page, 'PARAM_ROTATE'), 30);
      await moveTimeline(page, 0);
      assert.equal(await shownNumber(page, 'PARAM_ROTATE'), 10);
    });
  });

  test(
      'a saved project renders with `varnex render -p` to the pixels the viewer showed',
      {timeout: CASE_MS}, async () => {
        await withPreview(async (server, page) => {
          await page.locator('#zoom').selectOption('100');
          // A key at each end, so the picture depends on the frame and the project must carry
          // the keys and the frame range, not just the values shown.
          await typeValue(page, 'PARAM_TRANSLATE_X', -7);
          await typeValue(page, 'PARAM_ROTATE', 20);
          await settle(page, () => keyButton(page, 'PARAM_ROTATE').click());
          await moveTimeline(page, LAST_FRAME);
          await typeValue(page, 'PARAM_ROTATE', 60);
          await moveTimeline(page, 3);
          const shown = await viewerPixels(page);
          assert.equal(await page.locator('#viewer').getAttribute('data-draft'), '0');

          const [response] = await Promise.all([
            page.waitForResponse(
                (r) => new URL(r.url()).pathname === '/api/save', {timeout: ACTION_MS}),
            page.locator('#save').click(),
          ]);
          assert.equal(response.status(), 200);
          const saved = (await response.json()).path;
          await page.locator('#status').filter({hasText: path.basename(saved)}).waitFor();

          const renderFrame = (frame) =>
              rendered(`saved-${frame}.png`, ['-p', saved, '-f', String(frame)]);
          const mismatch = differences(await renderFrame(3), shown);
          assert.equal(mismatch.count, 0, mismatch.first);
          // The comparison tells frames apart: the next frame's rotation moves pixels.
          assert.notEqual(differences(await renderFrame(4), shown).count, 0);
        });
      });

  test(
      'Render writes every frame the viewer shows, with its keys', {timeout: CASE_MS}, async () => {
        const output = path.join(work, 'rendered-####.png');
        const args = [footage.input, '--map', footage.map, '-f', '0-2', '-o', output];
        await withPreview(async (server, page) => {
          await settle(page, () => keyButton(page, 'PARAM_ROTATE').click());
          await moveTimeline(page, 2);
          await typeValue(page, 'PARAM_ROTATE', 40);

          await page.locator('#render').click();
          await page.locator('#status').filter({hasText: `rendered ${output}`}).waitFor({
            timeout: RENDER_MS
          });
          for (const frame of [0, 1, 2]) {
            await moveTimeline(page, frame);
            const written =
                decodePng(await readFile(output.replace('####', String(frame).padStart(4, '0'))));
            const mismatch = differences(written, await viewerPixels(page));
            assert.equal(mismatch.count, 0, `frame ${frame}: ${mismatch.first}`);
          }
        }, {args});
      });

  test(
      'a screenshot of the page on the sample footage (VARNEX_SCREENSHOT=path)', {
        timeout: CASE_MS,
        skip: !process.env.VARNEX_SCREENSHOT && 'VARNEX_SCREENSHOT is not set',
      },
      async () => {
        const examples = path.join(process.env.VARNEX_SOURCE_DIR, 'examples');
        // The sample project with its footage named by absolute path, so nothing in examples/ is
        // written to.
        const project = JSON.parse(await readFile(path.join(examples, 'project.json'), 'utf8'));
        project.input = path.join(examples, 'input.png');
        project.map.path = path.join(examples, 'map.png');
        const projectFile = path.join(work, 'screenshot.json');
        await writeFile(projectFile, JSON.stringify(project));
        await withPreview(
            async (server, page) => {
              await page.locator('#zoom').selectOption('200');
              await moveTimeline(page, 24);
              await page.screenshot({path: process.env.VARNEX_SCREENSHOT});
            },
            {args: [project.input, '-p', projectFile], viewport: {width: 1040, height: 600}},
        );
      });
});
