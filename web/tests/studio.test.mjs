// End-to-end tests of `vexlor studio` in a real headless Chromium: a person's mouse and keyboard on
// the page, checked against what the host holds and what it writes. A screenshot of each step is
// kept under the artefacts folder.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, existsSync, statSync, copyFileSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { startStudio, ended, launchBrowser, openPage, shot, pageState, until, root, tokenOf, ids } from './harness.mjs';

const REDUCE = ids.VEXLOR_ID, BAKE = ids.OMBRIN_ID;
const gadget = (state, plugin, id) => state.dialogs.find((d) => d.plugin === plugin).gadgets.find((g) => g.id === id);
const objPoints = (file) => readFileSync(file, 'utf8').split('\n').filter((l) => l.startsWith('v ')).length;
const tmp = () => mkdtempSync(path.join(os.tmpdir(), 'vexlor-studio-'));
// The sample, copied to a folder of the test's own: a host stopped with unsaved work (a test that
// failed half-way) writes its recovery file beside the document, never into the source tree.
const sampleCopy = () => {
  const file = path.join(tmp(), 'sample.obj');
  copyFileSync(path.join(root, 'samples/sample.obj'), file);
  return file;
};

// Waits until the host has answered everything the page sent and the page shows the newest state.
async function settled(page) {
  const deadline = Date.now() + 180000;
  for (;;) {
    const done = await page.evaluate(async () => {
      const s = window.studio;
      if (s.busyCalls > 0 || (s.areaDragsPending && s.areaDragsPending())) return false;
      const v = (await (await s.api('/api/state')).json()).version;
      return v === s.version && !s.state().busy;
    });
    if (done) return;
    if (Date.now() > deadline) throw new Error('the page did not settle');
    await page.waitForTimeout(100);
  }
}

// Drags one row of the reduction dialog's error dial by `dx` pixels, as a hand would: in strokes of
// at most 150 pixels that stay inside the window, each in a few moves.
async function dragDial(page, row, dx) {
  const img = page.locator(`.dialog[data-plugin="${REDUCE}"] img.area`);
  const box = await img.boundingBox();
  const [, h] = await img.evaluate((i) => [i.naturalWidth, i.naturalHeight]);
  const frame = (h - 9) / 6;  // six rows of frames, a separator line above each and a 1 px border
  const y = box.y + 3 + (5 - row) * (frame + 1) + frame / 2;
  for (let left = dx; left !== 0;) {
    const stroke = Math.max(-150, Math.min(150, left));
    left -= stroke;
    const x = stroke > 0 ? box.x + 4 : box.x + box.width - 4;
    await page.mouse.move(x, y);
    await page.mouse.down();
    const steps = 5;
    for (let i = 1; i <= steps; i++) await page.mouse.move(x + Math.round((stroke * i) / steps), y);
    await page.mouse.up();
  }
  await settled(page);
}

test('reduce to 25 % through the dialog, preview three slider positions, save each level; unsaved work is kept', async () => {
  const out = tmp();
  const host = await startStudio([sampleCopy(), '--grace', '1', '--unsaved-grace', '8']);
  const browser = await launchBrowser();
  try {
    const { page, errors } = await openPage(browser, host.url);
    let s = await pageState(page);
    assert.equal(s.objects[0].points, 3456);
    assert.equal(await page.locator('#tree .item .count').first().textContent(), '3456 pts · 3456 polys');
    await shot(page, 'reduce-1-open.png');

    await page.click('#cmd-reduce');
    await page.waitForSelector(`.dialog[data-plugin="${REDUCE}"]`);
    await page.click(`.dialog [data-gadget="${ids.IDC_VEXLOR_PREPARE}"] button`);  // prepare the preview
    await settled(page);
    s = await pageState(page);
    assert.equal(gadget(s, REDUCE, ids.IDC_VEXLOR_PREPARE).enabled, false, 'the preview is held');
    await shot(page, 'reduce-2-prepared.png');

    // 25 % of the torus's 3456 points: one object, so the target is a point count.
    const target = page.locator(`.dialog [data-gadget="${ids.IDC_VEXLOR_TARGET}"] input`);
    await target.fill('864');
    await target.press('Enter');
    await settled(page);
    s = await pageState(page);
    assert.equal(s.objects[0].points, 864);
    assert.match(await page.locator('#tree .item .count').first().textContent(), /^864 pts/);
    await shot(page, 'reduce-3-target-25.png');

    // Three positions of the error dial: further, further still, then back part of the way. The row
    // is the coarsest whose step is at most a twentieth of the error the 25 % level needs.
    const error = Number(gadget(s, REDUCE, ids.IDC_VEXLOR_ERROR).shown);
    assert.ok(error > 0, 'the error field shows the error of the 25 % level');
    const steps = [1e-6, 1e-4, 0.01, 1, 100, 10000];
    let row = 0;
    while (row < 5 && steps[row + 1] <= error / 20) row++;
    const counts = [];
    for (const [i, share] of [[1, 0.15], [2, 0.3], [3, -0.3]]) {
      const dx = Math.round((share * error) / steps[row]);
      await dragDial(page, row, dx);
      s = await pageState(page);
      const shown = s.objects[0].points;
      assert.equal(Number(gadget(s, REDUCE, ids.IDC_VEXLOR_TARGET).shown), shown, 'the target field follows the dial');
      assert.match(await page.locator('#tree .item .count').first().textContent(), new RegExp(`^${shown} pts`));
      await shot(page, `reduce-4-dial-${i}.png`);
      // Save what the view shows and compare with the file.
      const file = path.join(out, `level${i}.obj`);
      await page.fill('#save-path', file);
      await page.click('#save');
      await settled(page);
      assert.equal(objPoints(file), shown, `level ${i}: the saved file holds the points shown`);
      assert.equal(await page.locator('#view-info').textContent(), file, 'the view names the file saved as');
      counts.push(shown);
    }
    assert.ok(counts[0] < 864 && counts[1] < counts[0] && counts[2] > counts[1] && counts[2] < 864,
              `a larger error keeps fewer points: ${counts}`);

    // Commit: the level stays, and one undo puts the torus back whole.
    await page.click(`.dialog [data-gadget="${ids.IDC_VEXLOR_START}"] button`);
    await settled(page);
    s = await pageState(page);
    assert.equal(s.objects[0].points, counts[2]);
    assert.equal(s.document.undo, 1);
    await shot(page, 'reduce-5-committed.png');
    await page.click('#undo');
    await settled(page);
    s = await pageState(page);
    assert.equal(s.objects[0].points, 3456);
    await page.click('#redo');
    await settled(page);
    s = await pageState(page);
    assert.equal(s.objects[0].points, counts[2]);

    // Undone, then a new change (a second reduction, the preview prepared by itself when the target is
    // typed): Redo goes off at once.
    await page.click('#undo');
    await settled(page);
    assert.equal(await page.locator('#redo').isEnabled(), true, 'an undone step can be redone');
    const apply = page.locator(`.dialog [data-gadget="${ids.IDC_VEXLOR_START}"] button`);
    assert.equal(await apply.textContent(), 'Apply');
    assert.equal(await page.locator(`.dialog [data-gadget="${ids.IDC_VEXLOR_FINISH_LEVEL}"] button`).textContent(), 'Rebuild quads');
    assert.match(await page.locator(`.dialog [data-gadget="${ids.IDC_VEXLOR_REGLER}"]`).getAttribute('title'), /drag a row sideways/);
    // Half the points, typed as a share: 1728 of the torus's 3456.
    await page.selectOption(`.dialog [data-gadget="${ids.IDC_VEXLOR_TARGET}"] select.target-unit`, 'pointsPct');
    await target.fill('50');
    await target.press('Enter');
    await page.waitForFunction(() => window.studio.state().objects[0].points === 1728);
    await settled(page);
    assert.equal(gadget(await pageState(page), REDUCE, ids.IDC_VEXLOR_TARGET).number, 1728, 'the share went to the host as points');
    await apply.click();
    await settled(page);
    s = await pageState(page);
    assert.deepEqual([s.objects[0].points, s.document.undo, s.document.redo], [1728, 1, 0]);
    assert.equal(await page.locator('#redo').isDisabled(), true, 'nothing is left to redo after a new change');
    assert.deepEqual(errors, []);

    // Unsaved work: the page asks before it closes; closed all the same, the host waits longer than
    // its grace, then keeps the work in a recovery file beside the document and names it on the next start.
    assert.equal(s.document.unsaved, true);
    const asked = new Promise((resolve) => page.once('dialog', (d) => { resolve(d.type()); d.dismiss(); }));
    const leaving = page.goto('about:blank').then(() => 'left', () => 'stayed');
    assert.equal(await asked, 'beforeunload');
    assert.equal(await leaving, 'stayed', 'the person chose to stay');
    assert.match(page.url(), /^http:\/\/127\.0\.0\.1/);
    await page.close();
    assert.equal(await ended(host.child, 4000), null, 'the host waits for a page while work is unsaved');
    assert.equal(await ended(host.child, 30000), 0);
    assert.match(host.output(), /the last page was closed with unsaved changes; the host waits 8 s/);
    const kept = host.output().match(/unsaved changes were kept in (\S+)\)/);
    assert.ok(kept, host.output());
    assert.equal(kept[1], path.join(out, 'level3.recovery.obj'));
    assert.equal(objPoints(kept[1]), 1728);
    const again = await startStudio([path.join(out, 'level3.obj'), '--grace', '1']);
    again.child.kill('SIGINT');
    assert.equal(await ended(again.child, 20000), 0);
    assert.match(again.output(), new RegExp(`unsaved changes of an earlier session were kept in ${kept[1]}`));
  } finally {
    await browser.close();
    host.child.kill('SIGINT');
    await ended(host.child, 20000);
  }
});

test('bake the samples through drops, the file chooser and the button; the maps are shown', async () => {
  const out = tmp();
  const host = await startStudio(['samples/bake_high.obj', 'samples/bake_low.obj', '--grace', '1']);
  const browser = await launchBrowser();
  try {
    const { page, errors } = await openPage(browser, host.url);
    await page.click('#cmd-bake');
    const dialog = `.dialog[data-plugin="${BAKE}"]`;
    await page.waitForSelector(dialog);
    const item = (name) => page.locator('#tree .item', { hasText: name });
    await item('high').dragTo(page.locator(`${dialog} fieldset[data-gadget="${ids.IDC_BAKE_HIGH_DROP}"]`));
    await settled(page);
    // A low object must bring its UVs: the tree's UVW tag of "low" is dropped there.
    await page.locator('#tree li.tag[data-object]', { hasText: 'uvw' }).last().dragTo(page.locator(`${dialog} fieldset[data-gadget="${ids.IDC_BAKE_LOW_DROP}"]`));
    await settled(page);
    let s = await pageState(page);
    assert.equal(gadget(s, BAKE, ids.IDC_BAKE_HIGH_NAME).text, 'high');
    assert.equal(gadget(s, BAKE, ids.IDC_BAKE_LOW_NAME).text, 'low');
    assert.equal(gadget(s, BAKE, ids.IDC_BAKE_LOW_TAG).text, 'UVWTag 1');

    for (const [id, v] of [[ids.IDC_BAKE_WIDTH, '96'], [ids.IDC_BAKE_HEIGHT, '96']]) {
      await page.fill(`${dialog} [data-gadget="${id}"] input`, v);
      await page.press(`${dialog} [data-gadget="${id}"] input`, 'Enter');
      await settled(page);
    }
    await page.selectOption(`${dialog} [data-gadget="${ids.IDC_BAKE_SUPERSAMPLING}"] select`, String(ids.IDC_BAKE_SUPERSAMPLING + 1));  // 1 x 1 samples
    await settled(page);
    // The normal map's file through the host's file chooser, answered in the page.
    await page.click(`${dialog} [data-gadget="${ids.IDC_BAKE_NORMAL_CHOOSE}"] button`);
    await page.waitForSelector('#file-dialog:not([hidden])');
    const normal = path.join(out, 'normal.tif');
    await page.fill('#file-input', normal);
    await shot(page, 'bake-1-file-chooser.png');
    await page.click('#file-ok');
    await settled(page);
    // The displacement map's file typed into its field.
    await page.check(`${dialog} [data-gadget="${ids.IDC_BAKE_DISPLACEMENT_ON}"] input`);
    await settled(page);
    const disp = path.join(out, 'disp.tif');
    await page.fill(`${dialog} [data-gadget="${ids.IDC_BAKE_DISPLACEMENT_FILE}"] input`, disp);
    await page.press(`${dialog} [data-gadget="${ids.IDC_BAKE_DISPLACEMENT_FILE}"] input`, 'Enter');
    await settled(page);
    s = await pageState(page);
    assert.equal(gadget(s, BAKE, ids.IDC_BAKE_NORMAL_FILE).text, normal);
    assert.equal(gadget(s, BAKE, ids.IDC_BAKE_START).usable, true, 'the bake button is enabled');
    await shot(page, 'bake-2-ready.png');

    await page.click(`${dialog} [data-gadget="${ids.IDC_BAKE_START}"] button`);
    await until(page, ([plugin, status]) => /finished|failed/i.test(window.studio.state().dialogs.find((d) => d.plugin === plugin)
      .gadgets.find((g) => g.id === status).text || ''), [BAKE, ids.IDC_BAKE_STATUS], 300000);
    await settled(page);
    s = await pageState(page);
    assert.equal(gadget(s, BAKE, ids.IDC_BAKE_STATUS).text, 'Bake finished');
    assert.ok(existsSync(normal) && statSync(normal).size > 0, 'the normal map was written');
    assert.ok(existsSync(disp) && statSync(disp).size > 0, 'the displacement map was written');
    await page.waitForFunction(() => [...document.querySelectorAll('#maps img.baked-map')].filter((i) => i.naturalWidth === 96).length === 2);
    await page.check('#show-normal-map');
    await page.waitForFunction(() => window.studio.normalMapShown === 'low');
    // The low object and its map as a glTF asset, for other tools.
    const asset = path.join(out, 'low.glb');
    await page.fill('#asset-path', asset);
    await page.click('#save-asset');
    await page.waitForFunction(() => window.studio.lastAsset);
    assert.equal(readFileSync(asset).subarray(0, 4).toString(), 'glTF');
    // The high object hides the low one: switched off in the tree, it leaves the normal-mapped low.
    await item('high').locator('input[type=checkbox]').uncheck();
    await settled(page);
    s = await pageState(page);
    assert.equal(s.objects.find((o) => o.name === 'high').visible, false);
    await shot(page, 'bake-3-maps.png');
    // The maps' panel belongs to the dialog: closing the dialog takes it away, and the normal map off the low object.
    await page.click(`${dialog} .title button`);
    await page.waitForFunction(() => document.querySelector('#maps').children.length === 0 && !window.studio.normalMapShown);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
    host.child.kill('SIGINT');
    await ended(host.child, 20000);
  }
});

test('brush a stroke over the torus: the polygon count falls, one undo restores it; a file picked, all framed', async () => {
  const host = await startStudio([sampleCopy(), '--grace', '1']);
  const browser = await launchBrowser();
  try {
    const { page, errors } = await openPage(browser, host.url);
    let s = await pageState(page);
    assert.equal(s.tool.brush, true, 'the module registered the brush');
    const before = s.objects[0].polygons;
    await page.click('#brush');
    await settled(page);
    s = await pageState(page);
    assert.equal(s.tool.active, true);
    assert.ok(s.dialogs.some((d) => d.title === 'Vexlor Brush'), 'the settings panel sits beside the view');
    const panel = () => page.locator('.dialog', { hasText: 'Vexlor Brush' });
    const panelGadget = (st, id) => st.dialogs.find((d) => d.title === 'Vexlor Brush').gadgets.find((g) => g.id === id);
    // A stroke across the near side of the ring, below the hole: from the canvas's centre down to the
    // surface, 40 pixels into it, then 120 pixels sideways.
    const canvas = await page.locator('#view canvas').boundingBox();
    const cx = canvas.width / 2;
    let y = canvas.height / 2;
    while (y < canvas.height && !(await page.evaluate(([x, y]) => window.studio.hits(x, y), [cx, y]))) y += 4;
    y += 40;
    assert.ok(await page.evaluate(([x, y]) => window.studio.hits(x, y), [cx - 60, y]), 'the stroke starts on the torus');
    const stroke = async (picture) => {
      const framesBefore = await page.evaluate(() => window.studio.brush.frame);
      await page.mouse.move(canvas.x + cx - 60, canvas.y + y);
      await page.mouse.down();
      const steps = 12;
      for (let i = 1; i <= steps; i++) {
        await page.mouse.move(canvas.x + cx - 60 + (120 * i) / steps, canvas.y + y);
        await page.waitForTimeout(40);
      }
      // While the button is held the view follows the steps of the drag (the mesh after each
      // collapse, and the tool's highlight of a polygon it would not collapse).
      await page.waitForFunction((n) => window.studio.brush.frame > n + 1, framesBefore, { timeout: 60000 });
      if (picture) await shot(page, picture);
      const released = Date.now();
      const shownBefore = await page.evaluate(() => window.studio.brush.meshesShown || 0);
      await page.mouse.up();
      await page.waitForFunction(() => !window.studio.brush.stroking);
      const shownAfter = (await page.evaluate(() => window.studio.brush.meshesShown || 0)) - shownBefore;
      console.log(`# the stroke ended ${Date.now() - released} ms and ${shownAfter} meshes shown after the release`);
      // The page shows the newest mesh only: a release does not play the drag's steps through.
      assert.ok(shownAfter <= 3, `${shownAfter} meshes shown after the release`);
      await settled(page);
      return pageState(page);
    };
    // At the brush's default limit the torus's curved polygons cost more than it allows: the status
    // line says so in words, and the panel offers to raise the limit.
    s = await stroke(null);
    assert.equal(s.objects[0].polygons, before, 'the default limit stopped every collapse');
    assert.match(await page.locator('#status-text').textContent(), /nothing collapsed: the least error met was .* above the limit 100; raise/);
    assert.equal(panelGadget(s, ids.IDC_TESSIK_RAISE_LIMIT).enabled, true);
    await panel().locator(`[data-gadget="${ids.IDC_TESSIK_RAISE_LIMIT}"] button`).click();
    await settled(page);
    s = await pageState(page);
    assert.ok(panelGadget(s, ids.IDC_TESSIK_MAX_ERROR).number > 100, 'one click raised the limit');
    assert.equal(panelGadget(s, ids.IDC_TESSIK_RAISE_LIMIT).enabled, false);
    const answersBefore = await page.evaluate(() => window.studio.meshAnswers.length);
    s = await stroke('brush-1-stroke.png');
    assert.match(await page.locator('#status-text').textContent(), /^Brush: \d+ polygons collapsed$/);
    // The stroke's meshes come as changes to the copy the page holds; at most the one after the
    // release comes whole (the collapsed polygons leave the arrays then).
    const strokeAnswers = await page.evaluate((n) => window.studio.meshAnswers.slice(n).filter((a) => a.from === 'brush'), answersBefore);
    const wholeAnswers = strokeAnswers.filter((a) => !a.change).length;
    assert.ok(strokeAnswers.length >= 2 && wholeAnswers <= 1, JSON.stringify(strokeAnswers));
    const after = s.objects[0].polygons;
    assert.ok(after < before, `the stroke collapsed polygons: ${before} -> ${after}`);
    assert.equal(s.document.undo, 1, 'one drag, one undo step (the stopped one left none)');
    await shot(page, 'brush-2-after.png');
    await page.click('#undo');
    await settled(page);
    s = await pageState(page);
    assert.equal(s.objects[0].polygons, before);
    assert.equal(s.document.undo, 0);

    // Files and view: the picker lists the start folder's folders and mesh files, names every format,
    // opens a file on a double click; F frames all after the view was panned away.
    await page.click('#open');
    await page.waitForSelector('#picker-list li.folder');
    assert.match(await page.locator('#picker-formats').textContent(), /OBJ, glTF .*PLY, FBX, STL, Collada .*3DS/);
    await page.locator('#picker-list li.folder', { hasText: 'samples/' }).dblclick();
    await page.locator('#picker-list li.file', { hasText: 'bake_low.obj' }).dblclick();
    await page.waitForFunction(() => window.studio.state().objects.length === 2 && window.studio.meshes.size === 2);
    await settled(page);
    assert.equal((await pageState(page)).document.unsaved, false, 'opened beside saved work: nothing unsaved');
    await page.mouse.move(canvas.x + 200, canvas.y + 200);
    await page.mouse.down({ button: 'right' });
    await page.mouse.move(canvas.x + 900, canvas.y + 700, { steps: 8 });
    await page.mouse.up({ button: 'right' });
    assert.equal(await page.evaluate(() => window.studio.centred()), false, 'panned away');
    await page.keyboard.press('f');
    await page.waitForFunction(() => window.studio.centred());
    await shot(page, 'files-framed.png');
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
    host.child.kill('SIGINT');
    await ended(host.child, 20000);
  }
});

// A raw request to the studio, answered with its status line and body.
function raw(port, text) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.write(text));
    let data = '';
    socket.on('data', (d) => { data += d; });
    socket.on('end', () => resolve(data));
    socket.on('error', reject);
    socket.setTimeout(10000, () => { socket.destroy(); resolve(data); });
  });
}

test('the server: loopback only, other origins and paths outside refused, malformed requests 400, two pages share the document, the last page closed ends it', async () => {
  const host = await startStudio(['samples/sample.obj', '--grace', '2']);
  const browser = await launchBrowser();
  try {
    // Listening on 127.0.0.1 only (the kernel's table of listening sockets).
    const hexPort = host.port.toString(16).toUpperCase().padStart(4, '0');
    const listening = readFileSync('/proc/net/tcp', 'utf8').split('\n')
      .map((l) => l.trim().split(/\s+/)).filter((f) => f[1] && f[1].endsWith(':' + hexPort) && f[3] === '0A');
    assert.deepEqual(listening.map((f) => f[1]), [`0100007F:${hexPort}`]);
    assert.equal(readFileSync('/proc/net/tcp6', 'utf8').includes(':' + hexPort + ' '), false);

    const base = `http://127.0.0.1:${host.port}`;
    const token = await tokenOf(host.url);
    const own = { 'X-Vexlor-Token': token };
    const state = await fetch(`${base}/api/state`, { headers: own });
    assert.equal(state.status, 200);
    assert.equal((await fetch(`${base}/api/state`)).status, 403, 'a call without the page\'s token is refused');
    const foreign = await fetch(`${base}/api/state`, { headers: { Origin: 'http://example.com' } });
    assert.equal(foreign.status, 403);
    const foreignPost = await fetch(`${base}/api/undo`, { method: 'POST', headers: { Origin: 'http://127.0.0.1:1', 'Content-Type': 'application/json' }, body: '{}' });
    assert.equal(foreignPost.status, 403);
    const formPost = await fetch(`${base}/api/undo`, { method: 'POST', headers: { 'Content-Type': 'text/plain' }, body: '{}' });
    assert.equal(formPost.status, 403, 'a POST that a form of another page could send is refused');
    const rebound = await raw(host.port, 'GET /api/state HTTP/1.1\r\nHost: attacker.example:80\r\nConnection: close\r\n\r\n');
    assert.match(rebound, /^HTTP\/1\.1 403/);
    for (const p of ['/../../etc/passwd', '/%2e%2e/%2e%2e/etc/passwd', '/vendor/../../../etc/passwd', '/..%2f..%2fetc%2fpasswd']) {
      const r = await raw(host.port, `GET ${p} HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nConnection: close\r\n\r\n`);
      assert.match(r, /^HTTP\/1\.1 (403|400)/, p);
      assert.doesNotMatch(r, /root:/, p);
    }
    assert.match(await raw(host.port, 'THIS IS NOT HTTP\r\n\r\n'), /^HTTP\/1\.1 400/);
    const badJson = await fetch(`${base}/api/select`, { method: 'POST', headers: { ...own, 'Content-Type': 'application/json' }, body: '{"ids": [1,' });
    assert.equal(badJson.status, 400);
    const badDialog = await fetch(`${base}/api/dialog`, { method: 'POST', headers: { ...own, 'Content-Type': 'application/json' }, body: '{"plugin": "x"}' });
    assert.equal(badDialog.status, 400);
    assert.equal((await fetch(`${base}/api/state`, { headers: own })).status, 200, 'the host goes on');

    // Two pages: a change made in one shows in the other.
    const a = await openPage(browser, host.url);
    const b = await openPage(browser, host.url);
    await a.page.click('#cmd-reduce');
    await b.page.waitForSelector(`.dialog[data-plugin="${REDUCE}"]`);
    await a.page.locator('#tree .item input[type=checkbox]').first().uncheck();
    await b.page.waitForFunction(() => window.studio.state().objects[0].visible === false);
    await shot(b.page, 'server-second-page.png');
    assert.deepEqual([...a.errors, ...b.errors], []);

    // Both pages closed: the host ends after its grace period.
    await a.page.close();
    await b.page.close();
    assert.equal(await ended(host.child, 15000), 0, 'the host ended once the last page was gone');
    assert.match(host.output(), /last page was closed/);
  } finally {
    await browser.close();
    if (host.child.exitCode === null) host.child.kill('SIGINT');
  }
});
