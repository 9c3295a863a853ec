'use strict';
// The real use: the product's page, served over HTTPS from a public address, calls the program on
// 127.0.0.1 from the user's browser. Chromium asks the user first ("… wants to access other apps and
// services on this device"); headless it never asks, so each test gives the answer itself.

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const https = require('node:https');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const {
  Bridge, PORT, channelClose, channelRecord, channelSend, countingListener, launchBrowser, openChannel, sleep, until,
} = require('./lib');

// Public to the browser (TEST-NET-3), and only ever on this namespace's loopback interface, where it
// leaves the program's adapter survey as the other tests see it.
const PUBLIC_IP = '203.0.113.5';
const PAGE = `https://${PUBLIC_IP}`;
const HELPER = `http://127.0.0.1:${PORT}`;

// A throwaway certificate for the address, and the hash of its key for Chromium to trust.
function makeCertificate(folder) {
  const key = path.join(folder, 'key.pem');
  const cert = path.join(folder, 'cert.pem');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
    '-days', '1', '-subj', `/CN=${PUBLIC_IP}`, '-addext', `subjectAltName=IP:${PUBLIC_IP}`, '-keyout', key, '-out', cert],
  { stdio: 'ignore' });
  const spki = new crypto.X509Certificate(fs.readFileSync(cert)).publicKey.export({ type: 'spki', format: 'der' });
  return { key: fs.readFileSync(key), cert: fs.readFileSync(cert), spkiHash: crypto.createHash('sha256').update(spki).digest('base64') };
}

// The user's answer to the prompt for this page's context; "loopback-network" is the permission that
// covers 127.0.0.1 in Chromium 156 (its "local-network" and "local-network-access" do not). The answer
// lasts as long as the browser session that gave it.
async function answerPrompt(session, page, setting) {
  const { targetInfo } = await (await page.context().newCDPSession(page)).send('Target.getTargetInfo');
  await session.send('Browser.setPermission', {
    permission: { name: 'loopback-network' }, setting, origin: PAGE, browserContextId: targetInfo.browserContextId,
  });
}

// Fetches from the page with a time-out, as a page must while a prompt may be open.
const pageFetch = (page, route) => page.evaluate(async (url) => {
  const started = performance.now();
  try {
    const response = await fetch(url, { cache: 'no-store', signal: AbortSignal.timeout(3000) });
    return { type: response.type, status: response.status, text: await response.text(), ms: performance.now() - started };
  } catch (error) {
    return { error: `${error.name}: ${error.message}`, ms: performance.now() - started };
  }
}, `${HELPER}${route}`);

describe('the product\'s page on a public HTTPS address', () => {
  let folder;
  let server;
  let browser;
  let session;

  before(async () => {
    folder = fs.mkdtempSync(path.join(os.tmpdir(), 'nerova-public-page-'));
    const { key, cert, spkiHash } = makeCertificate(folder);
    execFileSync('ip', ['address', 'add', `${PUBLIC_IP}/32`, 'dev', 'lo']);
    server = https.createServer({ key, cert }, (request, response) => {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end('<!doctype html><title>product page</title>');
    });
    await new Promise((resolve, reject) => server.once('error', reject).listen(443, PUBLIC_IP, resolve));
    // Chromium aborts loads from a non-loopback address with ERR_NETWORK_CHANGED while addresses change:
    // let the test network's link-local addresses finish duplicate address detection (1-2 s) first.
    await until(() => execFileSync('ip', ['-6', 'address', 'show', 'tentative']).length === 0,
      { timeout: 5000, interval: 100, what: 'the test network to settle' });
    // Trusting this one key makes the page a valid HTTPS page, a secure context, with no certificate
    // error that could change how Chromium treats it.
    browser = await launchBrowser([`--ignore-certificate-errors-spki-list=${spkiHash}`]);
    session = await browser.newBrowserCDPSession();
  });

  after(async () => {
    await browser?.close();
    server?.close();
    try { execFileSync('ip', ['address', 'del', `${PUBLIC_IP}/32`, 'dev', 'lo'], { stdio: 'ignore' }); } catch { /* never added */ }
    if (folder) fs.rmSync(folder, { recursive: true, force: true });
  });

  async function openPage(setting) {
    const page = await (await browser.newContext()).newPage();
    await answerPrompt(session, page, setting);
    await page.goto(`${PAGE}/`);
    const facts = await page.evaluate(async () => ({
      secure: isSecureContext, permission: (await navigator.permissions.query({ name: 'loopback-network' })).state,
    }));
    assert.deepEqual(facts, { secure: true, permission: setting });
    return page;
  }

  test('allowed: the page reads /status across origins and holds the live channel', async (t) => {
    const bridge = await new Bridge().start();
    t.after(() => bridge.dispose());
    const page = await openPage('granted');

    const status = await pageFetch(page, '/status');
    assert.deepEqual([status.type, status.status], ['cors', 200], JSON.stringify(status));
    const { token } = JSON.parse(status.text);
    assert.equal(token, bridge.token());

    await openChannel(page, 'live', `ws://127.0.0.1:${PORT}/live?token=${token}`, 'orva-local-helper');
    const first = await until(async () => { const r = await channelRecord(page, 'live'); return (r.messages.length || r.closed) && r; },
      { timeout: 5000, what: 'the first status document' });
    assert.equal(first.protocol, 'orva-local-helper', JSON.stringify(first));
    assert.equal(JSON.parse(first.messages[0].data).token, token);
    await channelSend(page, 'live', 'ping');
    await until(async () => (await channelRecord(page, 'live')).messages.some((m) => m.data === 'pong'),
      { timeout: 10000, what: '"pong"' });
    await channelClose(page, 'live');
    const { closed } = await until(async () => { const r = await channelRecord(page, 'live'); return r.closed && r; },
      { timeout: 10000, what: 'the close event' });
    assert.equal(closed.code, 1006, 'no Close frame comes back');
    await page.context().close();
  });

  test('blocked: fetch and WebSocket fail at once and no request byte reaches the port', async (t) => {
    const listener = await countingListener();
    t.after(() => listener.close());
    const page = await openPage('denied');

    const status = await pageFetch(page, '/status');
    assert.equal(status.error, 'TypeError: Failed to fetch');
    assert.ok(status.ms < 5000, `failed after ${Math.round(status.ms)} ms`);
    await openChannel(page, 'live', `ws://127.0.0.1:${PORT}/live?token=x`, 'orva-local-helper');
    const { closed, errored, opened } = await until(async () => { const r = await channelRecord(page, 'live'); return r.closed && r; },
      { timeout: 10000, what: 'the WebSocket to fail' });
    assert.deepEqual({ opened, errored, code: closed.code }, { opened: false, errored: true, code: 1006 });
    assert.ok(closed.at < 5000, `closed after ${Math.round(closed.at)} ms`);
    // Chromium checks the permission once connected, so connections may come; their requests must not.
    await sleep(300);
    assert.equal(listener.bytes, 0, `${listener.bytes} bytes over ${listener.connections} connections`);

    // The same page once allowed, without a reload: its request does reach the listener.
    await answerPrompt(session, page, 'granted');
    await page.evaluate((url) => { fetch(url).catch(() => {}); }, `${HELPER}/status`);
    await until(() => listener.bytes > 0, { timeout: 10000, what: 'the request once allowed' });
    await page.context().close();
  });
});
