// The studio against a hostile page: a page of another origin on loopback (a second small server on
// another port) that the person has open while the studio runs. It smuggles requests inside the body
// of a no-cors POST (a Blob body, as the attack on the first server did), sends form posts and
// cross-origin event streams, points iframes at the event stream and at the studio's own page, and
// opens more streams than the server has threads. Nothing may change: no file written, the document
// as it was, and the studio keeps answering; the hostile page does not keep the host alive. Then the
// limits that keep the studio answering: bounded streams, one request per connection, busy answers
// while the main thread works, brush moves bounded, FIFOs refused, and Ctrl-C at any time.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdtempSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { startStudio, ended, launchBrowser, openPage, shot, pageState, root, tokenOf, ids } from './harness.mjs';

const REDUCE = ids.VEXLOR_ID;
const tmp = () => mkdtempSync(path.join(os.tmpdir(), 'vexlor-hostile-'));

// A request as the attacker writes it into the body of another: whole, with its own length.
function inner(port, method, target, body, extra = '') {
  return `${method} ${target} HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\n${extra}` +
         (body === null ? '\r\n' : `Content-Type: application/json\r\nContent-Length: ${Buffer.byteLength(body)}\r\n\r\n${body}`);
}

// The attacker's page: every trick at once, against the studio on `port`.
function hostilePage(port, { victim, fresh, other }) {
  const guess = '0123456789abcdef0123456789abcdef';
  const smuggled = [
    inner(port, 'POST', '/api/save', JSON.stringify({ path: victim })),
    inner(port, 'POST', '/api/save', JSON.stringify({ path: fresh })),
    inner(port, 'POST', '/api/undo', '{}'),
    inner(port, 'POST', '/api/open', JSON.stringify({ path: other })),
    inner(port, 'POST', '/api/undo', '{}', `X-Vexlor-Token: ${guess}\r\n`),
    inner(port, 'POST', '/api/save', JSON.stringify({ path: fresh }), `X-Vexlor-Token: ${guess}\r\n`),
    inner(port, 'GET', '/api/events', null),
    // Two at once, the second one the dangerous one.
    inner(port, 'GET', '/api/state', null) + inner(port, 'POST', '/api/undo', '{}'),
    inner(port, 'POST', '/api/undo', '{}') + inner(port, 'POST', '/api/save', JSON.stringify({ path: victim })),
  ];
  const script = `
    const target = 'http://127.0.0.1:${port}';
    const smuggled = ${JSON.stringify(smuggled)};
    const sent = [];
    // The outer requests: refused for their origin (and their type), their bodies the smuggled ones.
    for (let round = 0; round < 4; round++)
      for (const body of smuggled)
        for (const [where, type] of [['/', ''], ['/api/undo', 'text/plain'], ['/api/save', ''], ['/index.html', 'text/plain']])
          sent.push(fetch(target + where, { method: 'POST', mode: 'no-cors', body: new Blob([body], type ? { type } : {}) })
                      .then(() => 'answered', () => 'failed'));
    // Simple cross-origin calls, as any page may send them.
    sent.push(fetch(target + '/api/undo', { method: 'POST', mode: 'no-cors', body: '{}' }).then(() => 'answered', () => 'failed'));
    sent.push(fetch(target + '/api/save?token=${guess}', { method: 'POST', mode: 'no-cors', body: '{"path": ${JSON.stringify(JSON.stringify(fresh))}}' })
                .then(() => 'answered', () => 'failed'));
    // Event streams from this origin, more than the server has threads.
    window.streams = [];
    for (let i = 0; i < 20; i++) window.streams.push(new EventSource(target + '/api/events'));
    // A form post into a frame of its own (text/plain, shaped like JSON).
    const sink = document.createElement('iframe');
    sink.name = 'sink';
    document.body.append(sink);
    const form = document.createElement('form');
    form.method = 'POST'; form.enctype = 'text/plain'; form.target = 'sink'; form.action = target + '/api/undo';
    const field = document.createElement('input');
    field.name = '{"a":"'; field.value = '"}';
    form.append(field);
    document.body.append(form);
    form.submit();
    // Frames on the event stream (they send no Origin header), with a guessed token, and on the
    // studio's own page (which would hold a stream of its own if it could be framed).
    for (let i = 0; i < 16; i++) {
      const f = document.createElement('iframe');
      f.src = target + (i < 12 ? '/api/events' : i < 14 ? '/api/events?token=${guess}' : '/');
      document.body.append(f);
    }
    for (const p of ['/api/state', '/api/mesh?id=1', '/api/undo', '/api/brush/mesh']) {
      const img = new Image();
      img.src = target + p;
      document.body.append(img);
    }
    window.attack = Promise.all(sent);
  `;
  return `<!doctype html><html><head><meta charset="utf-8"><title>a page</title></head>` +
         `<body><h1>Nothing to see here</h1><script>${script}</script></body></html>`;
}

// A small server of the attacker's on another loopback port.
function serve(html) {
  return new Promise((resolve) => {
    const server = http.createServer((req, res) => {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(html());
    });
    server.listen(0, '127.0.0.1', () => resolve(server));
  });
}

const json = async (res) => ({ status: res.status, body: await res.json().catch(() => ({})) });

test('a hostile page of another origin changes nothing, the studio keeps answering, and the host still ends', async () => {
  const dir = tmp();
  const model = path.join(dir, 'model.obj');
  copyFileSync(path.join(root, 'samples/sample.obj'), model);
  const victim = path.join(dir, 'victim.obj');
  copyFileSync(path.join(root, 'samples/bake_low.obj'), victim);
  const fresh = path.join(dir, 'written-by-the-attacker.obj');
  const other = path.join(root, 'samples/bake_high.obj');
  const before = { model: readFileSync(model), victim: readFileSync(victim), victimTime: statSync(victim).mtimeMs };

  const host = await startStudio([model, '--grace', '2']);
  const base = `http://127.0.0.1:${host.port}`;
  const token = await tokenOf(host.url);
  const own = { 'X-Vexlor-Token': token };
  const state = async () => (await fetch(`${base}/api/state`, { headers: own })).json();
  let page = 'wait';
  const attacker = await serve(() => page);
  const browser = await launchBrowser();
  try {
    // The person's page: one reduction committed, so there is a step an undo would take back.
    const { page: studioPage, errors } = await openPage(browser, host.url);
    const call = async (p, body) => json(await fetch(`${base}${p}`, { method: 'POST', headers: { ...own, 'Content-Type': 'application/json' }, body: JSON.stringify(body) }));
    // Each step once the host takes it, then the state it leads to (the preview is prepared by a worker).
    const until = async (done) => {
      for (const deadline = Date.now() + 180000; !done(await state());) {
        if (Date.now() > deadline) throw new Error('the host did not get there');
        await new Promise((ok) => setTimeout(ok, 200));
      }
    };
    const step = async (p, body, done) => {
      for (const deadline = Date.now() + 180000; ;) {
        const r = await call(p, body);
        if (r.status === 200) break;
        if (Date.now() > deadline) throw new Error(`${p} ${JSON.stringify(body)}: ${r.status} ${JSON.stringify(r.body)}`);
        await new Promise((ok) => setTimeout(ok, 200));
      }
      await until(done);
    };
    const idle = (st) => !st.busy;
    const gadgetOf = (st, id) => st.dialogs.find((d) => d.plugin === REDUCE)?.gadgets.find((g) => g.id === id);
    await step('/api/command', { plugin: REDUCE }, (st) => st.dialogs.some((d) => d.plugin === REDUCE));
    await step('/api/dialog', { plugin: REDUCE, gadget: ids.IDC_VEXLOR_PREPARE, action: 'press' }, (st) => idle(st) && gadgetOf(st, ids.IDC_VEXLOR_PREPARE)?.enabled === false);
    await step('/api/dialog', { plugin: REDUCE, gadget: ids.IDC_VEXLOR_TARGET, action: 'set', value: '864' }, (st) => idle(st) && st.objects[0].points === 864);
    await step('/api/dialog', { plugin: REDUCE, gadget: ids.IDC_VEXLOR_START, action: 'press' }, (st) => idle(st) && st.document.undo === 1);
    let s = await state();
    assert.equal(s.objects.length, 1);
    assert.equal(s.objects[0].points, 864);
    assert.equal(s.document.undo, 1);
    const versionBefore = s.version;

    // The hostile page, in its own browser context as another site would be.
    page = hostilePage(host.port, { victim, fresh, other });
    const hostileContext = await browser.newContext();
    const hostile = await hostileContext.newPage();
    await hostile.goto(`http://127.0.0.1:${attacker.address().port}/`, { waitUntil: 'domcontentloaded' });
    const outcomes = await hostile.evaluate(() => window.attack);
    assert.ok(outcomes.length > 100, 'the page sent its requests');
    await hostile.waitForTimeout(2000);
    await shot(hostile, 'hostile-page.png');

    // Nothing changed: no file written or touched, the document as it was.
    assert.equal(existsSync(fresh), false, 'no new file');
    assert.deepEqual(readFileSync(victim), before.victim, 'the victim file is untouched');
    assert.equal(statSync(victim).mtimeMs, before.victimTime);
    assert.deepEqual(readFileSync(model), before.model, 'the model file is untouched');
    s = await state();
    assert.equal(s.objects.length, 1, 'no file was opened');
    assert.equal(s.objects[0].points, 864, 'no undo was run');
    assert.equal(s.document.undo, 1);
    assert.equal(s.version, versionBefore, 'the document did not change');
    // The studio keeps answering, at once, and its own page still works.
    const t0 = Date.now();
    assert.equal((await fetch(`${base}/api/state`, { headers: own })).status, 200);
    assert.ok(Date.now() - t0 < 2000, 'the state came at once');
    assert.equal((await pageState(studioPage)).objects[0].points, 864);
    await studioPage.click('#undo');
    await studioPage.waitForFunction(() => window.studio.state().objects[0].points === 3456);
    assert.deepEqual(errors, []);

    // The person closes the studio's page: the host ends after its grace period although the
    // hostile page is still open with its frames and streams.
    await studioPage.close();
    assert.equal(await ended(host.child, 20000), 0, 'the host ended once the last page of its own was gone');
    assert.match(host.output(), /last page was closed/);
    await hostileContext.close();
  } finally {
    await browser.close();
    attacker.close();
    if (host.child.exitCode === null) host.child.kill('SIGINT');
  }
});

// Sends raw bytes; resolves with everything answered until the server closed (or `ms` passed).
function raw(port, text, ms = 10000) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.write(text));
    let data = '';
    socket.on('data', (d) => { data += d; });
    socket.on('end', () => resolve(data));
    socket.on('error', (e) => (data ? resolve(data) : reject(e)));
    socket.setTimeout(ms, () => { socket.destroy(); resolve(data); });
  });
}

// Opens an event stream; resolves with its status once the headers came.
function stream(port, token) {
  return new Promise((resolve) => {
    const req = http.get({ host: '127.0.0.1', port, path: `/api/events?token=${token}` }, (res) => resolve({ status: res.statusCode, req }));
    req.on('error', () => resolve({ status: 0, req }));
  });
}

test('the studio holds out: streams are bounded, refused requests close their connection, busy work answers at once, Ctrl-C ends a stroke', async () => {
  const dir = tmp();
  const host = await startStudio([path.join(root, 'samples/sample.obj'), '--grace', '30']);
  const base = `http://127.0.0.1:${host.port}`;
  const token = await tokenOf(host.url);
  const own = { 'X-Vexlor-Token': token, 'Content-Type': 'application/json' };
  try {
    // Sixteen pages' streams: a few are refused, and the studio answers the rest at once.
    const streams = await Promise.all(Array.from({ length: 16 }, () => stream(host.port, token)));
    const counts = { 200: 0, 503: 0 };
    for (const st of streams) counts[st.status] = (counts[st.status] || 0) + 1;
    assert.equal(counts[200], 8, `at most 8 streams: ${JSON.stringify(counts)}`);
    assert.equal(counts[503], 8);
    const t0 = Date.now();
    for (let i = 0; i < 20; i++) assert.equal((await fetch(`${base}/api/state`, { headers: own })).status, 200);
    assert.ok(Date.now() - t0 < 5000, `20 calls beside 8 streams took ${Date.now() - t0} ms`);
    for (const st of streams) st.req.destroy();

    // Refused requests close their connection: what follows is never read as a request.
    const file = path.join(dir, 'smuggled.obj');
    const save = JSON.stringify({ path: file });
    const smuggled = `POST /api/save HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nX-Vexlor-Token: ${token}\r\n` +
                     `Content-Type: application/json\r\nContent-Length: ${save.length}\r\n\r\n${save}`;
    const cases = [
      ['another origin', `POST /api/undo HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nOrigin: http://127.0.0.1:1\r\nContent-Length: ${smuggled.length}\r\n\r\n`, /^HTTP\/1\.1 403/],
      ['no token', `POST /api/undo HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nContent-Type: application/json\r\nContent-Length: ${smuggled.length}\r\n\r\n`, /^HTTP\/1\.1 403/],
      ['a form post', `POST /api/undo HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nContent-Type: text/plain\r\nContent-Length: ${smuggled.length}\r\n\r\n`, /^HTTP\/1\.1 403/],
      ['a GET with a body', `GET / HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nContent-Length: ${smuggled.length}\r\n\r\n`, /^HTTP\/1\.1 400/],
      ['a chunked body', `POST /api/undo HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n`, /^HTTP\/1\.1 411/],
      ['another method', `PUT /api/undo HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nContent-Length: ${smuggled.length}\r\n\r\n`, /^HTTP\/1\.1 405/],
      ['a short length', `POST /api/undo HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nOrigin: http://evil.example\r\nContent-Length: 2\r\n\r\n{}`, /^HTTP\/1\.1 403/],
      ['an accepted request', `GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nX-Vexlor-Token: ${token}\r\n\r\n`, /^HTTP\/1\.1 200/],
    ];
    for (const [what, head, status] of cases) {
      const answer = await raw(host.port, head + smuggled);
      assert.match(answer, status, what);
      assert.equal((answer.match(/^HTTP\/1\.1 /gm) || []).length, 1, `${what}: one answer, then the connection closed`);
      assert.equal(existsSync(file), false, `${what}: the smuggled save did not run`);
    }

    // A brush request of 10,000 positions is refused at once; a stroke under way ends on Ctrl-C.
    assert.equal((await fetch(`${base}/api/brush`, { method: 'POST', headers: own, body: '{"on": true}' })).status, 200);
    const long = Array.from({ length: 10000 }, (_, i) => [100 + (i % 400), 200]);
    const t1 = Date.now();
    const refused = await fetch(`${base}/api/brush/event`, { method: 'POST', headers: own, body: JSON.stringify({ kind: 'move', path: long }) });
    assert.equal(refused.status, 400);
    assert.match((await refused.json()).error, /at most 500 positions/);
    assert.ok(Date.now() - t1 < 2000);
    const camera = { position: [0, 0, 8], right: [1, 0, 0], up: [0, 1, 0], forward: [0, 0, -1], focal: 600, width: 800, height: 600 };
    const press = await fetch(`${base}/api/brush/press`, { method: 'POST', headers: own, body: JSON.stringify({ x: 400, y: 300, camera }) });
    assert.equal(press.status, 200, await press.text());
    for (let k = 0; k < 3; k++) {
      const part = Array.from({ length: 500 }, (_, i) => [150 + i, 300 + k]);
      const r = await fetch(`${base}/api/brush/event`, { method: 'POST', headers: own, body: JSON.stringify({ kind: 'move', path: part }) });
      assert.ok(r.status === 200 || r.status === 503, `a part of the stroke: ${r.status}`);
    }
    // The main thread is inside the stroke: other calls are answered at once (busy or done).
    const t2 = Date.now();
    const during = await fetch(`${base}/api/state`, { headers: own });
    assert.ok(during.status === 200 || during.status === 503, `during a stroke: ${during.status}`);
    assert.ok(Date.now() - t2 < 3000, `answered in ${Date.now() - t2} ms`);
    host.child.kill('SIGINT');
    assert.equal(await ended(host.child, 15000), 0, 'Ctrl-C ended the host in the middle of a stroke');
    assert.doesNotMatch(host.output(), /^\s*[-\d.e+]+\s*$/m, 'no bare numbers on the terminal');
  } finally {
    if (host.child.exitCode === null) host.child.kill('SIGKILL');
  }
});

// A grid of n x n quads as OBJ text (large enough that reading it holds the host for a while).
function gridObj(n) {
  const lines = ['o big'];
  for (let j = 0; j <= n; j++) for (let i = 0; i <= n; i++) lines.push(`v ${i} ${j} ${((i * 7 + j * 3) % 11) * 0.01}`);
  for (let j = 0; j < n; j++)
    for (let i = 0; i < n; i++) {
      const a = j * (n + 1) + i + 1;
      lines.push(`f ${a} ${a + 1} ${a + n + 2} ${a + n + 1}`);
    }
  return lines.join('\n') + '\n';
}

test('while a big file opens, other calls are answered at once and the open can be stopped, a FIFO is refused, and Ctrl-C ends the host', async () => {
  const dir = tmp();
  const big = path.join(dir, 'big.obj');
  writeFileSync(big, gridObj(700));
  const fifo = path.join(dir, 'pipe.obj');
  execFileSync('mkfifo', [fifo]);
  const host = await startStudio([path.join(root, 'samples/sample.obj'), '--grace', '60']);
  const base = `http://127.0.0.1:${host.port}`;
  const token = await tokenOf(host.url);
  const own = { 'X-Vexlor-Token': token, 'Content-Type': 'application/json' };
  try {
    // A FIFO is refused at once (it would hold the host until a writer came).
    const t0 = Date.now();
    const refused = await fetch(`${base}/api/open`, { method: 'POST', headers: own, body: JSON.stringify({ path: fifo }) });
    assert.equal(refused.status, 422);
    assert.match((await refused.json()).error, /is a FIFO: the studio reads regular files only/);
    assert.ok(Date.now() - t0 < 3000);
    // The big file is read beside the main thread: what comes meanwhile is answered within a moment.
    // A read that outlasts the open's short wait (it does in the sanitizer build) is named in the
    // state and can be stopped; a stopped read adds nothing.
    const opening = await fetch(`${base}/api/open`, { method: 'POST', headers: own, body: JSON.stringify({ path: big }) });
    assert.ok(opening.status === 200 || opening.status === 202, `open: ${opening.status}`);
    if (opening.status === 202) {
      const t = Date.now();
      const s = await (await fetch(`${base}/api/state`, { headers: own })).json();
      assert.ok(Date.now() - t < 3000, `answered in ${Date.now() - t} ms`);
      if (s.opening) {
        assert.equal(s.opening.path, big);
        const stop = await fetch(`${base}/api/open/stop`, { method: 'POST', headers: own, body: '{}' });
        assert.equal(stop.status, 200);
        const after = await (await fetch(`${base}/api/state`, { headers: own })).json();
        assert.equal(after.opening, null);
        assert.deepEqual([after.opened.path, after.opened.stopped], [big, true]);
        assert.equal(after.objects.length, s.objects.length, 'nothing of the stopped file joined the document');
      }
    }
    // Ctrl-C ends the host within a few seconds and plainly, a read left behind or not.
    const t = Date.now();
    host.child.kill('SIGINT');
    const code = await ended(host.child, 15000);
    assert.equal(code, 0, host.output());
    assert.ok(Date.now() - t < 9000, `ended ${Date.now() - t} ms after Ctrl-C`);
  } finally {
    if (host.child.exitCode === null) host.child.kill('SIGKILL');
  }
});
