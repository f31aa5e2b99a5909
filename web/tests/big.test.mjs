// A dense mesh in the studio, timed as a person meets it: the first view, an orbit frame with and
// without the wireframe, and a preview step of the reduction. The figures are printed, not asserted
// (they depend on the machine and on the build); what is asserted is that each step happens.
//   STUDIO_BIG_TRIANGLES  triangles of the generated torus (default 30000; 1000000 for the figures
//                         of a big mesh, with VEXLOR set to an optimised build)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startStudio, ended, launchBrowser, openPage, shot, pageState, until, ids } from './harness.mjs';

const REDUCE = ids.VEXLOR_ID;

// A torus of quads cut into triangles: `around` x `across` quads, two triangles each.
function torusObj(triangles) {
  const across = Math.max(8, Math.round(Math.sqrt(triangles / 2 / 3)));
  const around = Math.max(8, Math.round(triangles / 2 / across));
  const lines = [];
  for (let i = 0; i < around; i++) {
    const a = (2 * Math.PI * i) / around;
    for (let j = 0; j < across; j++) {
      const b = (2 * Math.PI * j) / across;
      const r = 1 + 0.35 * Math.cos(b);
      lines.push(`v ${(r * Math.cos(a)).toFixed(6)} ${(0.35 * Math.sin(b)).toFixed(6)} ${(r * Math.sin(a)).toFixed(6)}`);
    }
  }
  const at = (i, j) => (i % around) * across + (j % across) + 1;
  for (let i = 0; i < around; i++)
    for (let j = 0; j < across; j++) {
      lines.push(`f ${at(i, j)} ${at(i + 1, j)} ${at(i + 1, j + 1)}`);
      lines.push(`f ${at(i, j)} ${at(i + 1, j + 1)} ${at(i, j + 1)}`);
    }
  return { text: lines.join('\n') + '\n', points: around * across, triangles: 2 * around * across };
}

test('a dense torus: first view, orbit frames with and without the wire, a preview step (figures printed)', { timeout: 1200000 }, async () => {
  const folder = mkdtempSync(path.join(os.tmpdir(), 'vexlor-big-'));
  const torus = torusObj(Number(process.env.STUDIO_BIG_TRIANGLES || 30000));
  const file = path.join(folder, 'torus.obj');
  writeFileSync(file, torus.text);
  const host = await startStudio([file, '--grace', '1']);
  const browser = await launchBrowser();
  const figures = [];
  try {
    const opened = Date.now();
    const { page, errors } = await openPage(browser, host.url);
    // The mesh answers the page received since `from`: whole, or the changes to the copy it holds.
    const received = (from) => page.evaluate((n) => window.studio.meshAnswers.slice(n), from);
    await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
    figures.push(`first view ${Date.now() - opened} ms`);
    assert.equal((await pageState(page)).objects[0].points, torus.points);
    // The tests' browser draws in software: four samples a pixel would be most of each frame.
    assert.equal(await page.evaluate(() => window.studio.smoothEdges()), false);
    await page.locator('#wire').check();
    const orbit = async (still) => {
      const { ms, standIns } = await page.evaluate((s) => window.studio.orbitFrameMs(10, s), still);
      // Dense objects move as their stand-ins (the browser draws in software) and rest at full detail.
      assert.equal(standIns, !still && torus.triangles > 200000);
      return ms.toFixed(0);
    };
    figures.push(`orbit frame with the wireframe ${await orbit(false)} ms`);
    await page.locator('#wire').uncheck();
    figures.push(`orbit frame without ${await orbit(false)} ms`, `a frame at full detail ${await orbit(true)} ms`);
    await shot(page, 'big-torus.png');

    // The reduction: a first target prepares the preview; the next one is a preview step.
    await page.click('#cmd-reduce');
    await page.waitForSelector(`.dialog[data-plugin="${REDUCE}"]`);
    const target = page.locator(`.dialog [data-gadget="${ids.IDC_VEXLOR_TARGET}"] input`);
    const toPoints = async (points) => {
      const start = Date.now();
      await target.fill(String(points));
      await target.press('Enter');
      await until(page, (n) => window.studio.state().objects[0].points === n && !window.studio.state().busy, points, 600000);
      await page.waitForFunction((v) => [...window.studio.meshes.values()][0].version === v,
                                 (await pageState(page)).objects[0].meshVersion, { timeout: 600000 });
      return Date.now() - start;
    };
    const half = Math.round(torus.points / 2), quarter = Math.round(torus.points / 4);
    const bytes = (list) => list.reduce((n, a) => n + a.bytes, 0);
    const whole = bytes(await received(0));
    figures.push(`prepare and first preview ${await toPoints(half)} ms`);
    const seen = await page.evaluate(() => window.studio.progressSeen);
    figures.push(`progress lines shown so far: ${seen.length}${seen.length ? ` (last "${seen[seen.length - 1]}")` : ''}`);
    figures.push(`a preview step on screen ${await toPoints(quarter)} ms`);
    // A small step (a notch of the dial) goes to the page as its changes only.
    const count = (await received(0)).length;
    figures.push(`a small step ${await toPoints(Math.round(torus.points / 5))} ms`);
    const step = await received(count);
    assert.ok(step.length > 0 && step.every((a) => a.change), JSON.stringify(step));
    figures.push(`mesh bytes: first view ${whole}, small step ${bytes(step)}`);
    assert.ok(bytes(step) < whole / 4, `${bytes(step)} of ${whole}`);
    await shot(page, 'big-torus-preview.png');
    assert.deepEqual(errors, []);
  } finally {
    console.log(`# ${torus.triangles} triangles: ${figures.join(', ')}`);
    await browser.close();
    host.child.kill('SIGINT');
    await ended(host.child, 20000);
  }
});
