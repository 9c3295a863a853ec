'use strict';
// The product's page in Firefox: served over HTTPS from a public address, it calls the program on
// 127.0.0.1. Firefox asks the user first ("<site> wants to access other apps and services on this
// device", Allow / Block) for fetch, and headless it still shows the question, so each test answers
// it as a user does: with a click on its button. Every case gets a fresh profile.

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const https = require('node:https');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const {
  Bridge, PORT, channelClose, channelRecord, channelSend, countingListener, openChannel, sleep, until,
} = require('./lib');
const { Firefox } = require('./firefox');

// Public to the browser (TEST-NET-3), and only ever on this namespace's loopback interface.
const PUBLIC_IP = '203.0.113.5';
const PAGE = `https://${PUBLIC_IP}`;
const HELPER = `http://127.0.0.1:${PORT}`;

// Firefox refuses a CA certificate as a server's own, so: a throwaway CA for the profile to trust,
// and the page's certificate signed by it.
function makeCertificates(folder) {
  const file = (name) => path.join(folder, name);
  const openssl = (...args) => execFileSync('openssl', args, { stdio: 'ignore' });
  const newKey = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes'];
  openssl('req', '-x509', ...newKey, '-days', '1', '-subj', '/CN=Nerova test CA', '-addext', 'basicConstraints=critical,CA:TRUE',
    '-addext', 'keyUsage=critical,keyCertSign', '-keyout', file('ca.key'), '-out', file('ca.pem'));
  openssl('req', ...newKey, '-subj', `/CN=${PUBLIC_IP}`, '-keyout', file('key.pem'), '-out', file('request.pem'));
  fs.writeFileSync(file('extensions'), `subjectAltName=IP:${PUBLIC_IP}\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n`);
  openssl('x509', '-req', '-in', file('request.pem'), '-CA', file('ca.pem'), '-CAkey', file('ca.key'), '-set_serial', '1',
    '-days', '1', '-extfile', file('extensions'), '-out', file('cert.pem'));
  return {
    key: fs.readFileSync(file('key.pem')),
    cert: fs.readFileSync(file('cert.pem')),
    caBase64: fs.readFileSync(file('ca.pem'), 'utf8').replace(/-----[^-]+-----|\s/g, ''),
  };
}

// Starts a fetch in the page without waiting for it; its outcome lands in window.__fetches[name].
const startFetch = (firefox, name, route, ms) => firefox.evaluate(({ name, url, ms }) => {
  window.__fetches = window.__fetches || {};
  const started = performance.now();
  fetch(url, { cache: 'no-store', signal: AbortSignal.timeout(ms) }).then(
    async (response) => { window.__fetches[name] = { type: response.type, status: response.status, text: await response.text(), ms: performance.now() - started }; },
    (error) => { window.__fetches[name] = { error: error.name, ms: performance.now() - started }; });
}, { name, url: `${HELPER}${route}`, ms });
const fetchResult = (firefox, name, timeout = 10000) => until(() => firefox.evaluate((name) => (window.__fetches || {})[name] || null, name),
  { timeout, what: `fetch ${name}` });
const permission = (firefox) => firefox.evaluate(async () => (await navigator.permissions.query({ name: 'loopback-network' })).state);

// The question on the page's tab, as the browser window shows it: its text and buttons, or null.
const question = (firefox) => firefox.chrome(() => {
  const win = Services.wm.getMostRecentWindow('navigator:browser');
  const shown = win.PopupNotifications.getNotification('loopback-network', win.gBrowser.selectedBrowser);
  if (!shown) return null;
  return { message: shown.message, buttons: [shown.mainAction.label, ...shown.secondaryActions.map((a) => a.label)], panel: win.PopupNotifications.panel.state };
});

// Clicks Allow (the main button) or Block on the open question.
const answer = (firefox, button) => firefox.chrome((button) => {
  const element = Services.wm.getMostRecentWindow('navigator:browser').document.getElementById('loopback-network-notification');
  (button === 'Allow' ? element.button : element.secondaryButton).click();
}, button);

async function waitForQuestion(firefox) {
  const shown = await until(async () => { const q = await question(firefox); return q?.panel === 'open' && q; },
    { timeout: 10000, what: 'the question' });
  assert.deepEqual(shown, { message: '<> wants to access other apps and services on this device.', buttons: ['Allow', 'Block'], panel: 'open' });
}

describe('the product\'s page in Firefox on a public HTTPS address', () => {
  let folder;
  let server;
  let caBase64;

  before(async () => {
    folder = fs.mkdtempSync(path.join(os.tmpdir(), 'nerova-firefox-page-'));
    const certificates = makeCertificates(folder);
    caBase64 = certificates.caBase64;
    execFileSync('ip', ['address', 'add', `${PUBLIC_IP}/32`, 'dev', 'lo']);
    server = https.createServer(certificates, (request, response) => {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end('<!doctype html><title>product page</title>');
    });
    await new Promise((resolve, reject) => server.once('error', reject).listen(443, PUBLIC_IP, resolve));
  });

  after(() => {
    server?.close();
    try { execFileSync('ip', ['address', 'del', `${PUBLIC_IP}/32`, 'dev', 'lo'], { stdio: 'ignore' }); } catch { /* never added */ }
    if (folder) fs.rmSync(folder, { recursive: true, force: true });
  });

  // A fresh Firefox whose profile trusts the CA, on the page: a secure context, nothing asked yet.
  async function openPage(t) {
    const firefox = await Firefox.launch();
    t.after(() => firefox.close());
    await firefox.chrome((base64) => {
      Cc['@mozilla.org/security/x509certdb;1'].getService(Ci.nsIX509CertDB).addCertFromBase64(base64, 'C,,');
    }, caBase64);
    await firefox.navigate(`${PAGE}/`);
    const facts = await firefox.evaluate(async () => ({
      secure: isSecureContext, permission: (await navigator.permissions.query({ name: 'loopback-network' })).state,
    }));
    assert.deepEqual(facts, { secure: true, permission: 'prompt' });
    return firefox;
  }

  async function holdLiveChannel(firefox, token) {
    await openChannel(firefox, 'live', `ws://127.0.0.1:${PORT}/live?token=${token}`, 'orva-local-helper');
    const first = await until(async () => { const r = await channelRecord(firefox, 'live'); return (r.messages.length || r.closed) && r; },
      { timeout: 10000, what: 'the first status document' });
    assert.equal(first.protocol, 'orva-local-helper', JSON.stringify(first));
    assert.equal(JSON.parse(first.messages[0].data).token, token);
    await channelSend(firefox, 'live', 'ping');
    await until(async () => (await channelRecord(firefox, 'live')).messages.some((m) => m.data === 'pong'),
      { timeout: 5000, what: '"pong"' });
    await channelClose(firefox, 'live');
    const { closed } = await until(async () => { const r = await channelRecord(firefox, 'live'); return r.closed && r; },
      { timeout: 5000, what: 'the close event' });
    assert.equal(closed.code, 1006, 'no Close frame comes back');
  }

  test('allowed: the page reads /status across origins and holds the live channel', async (t) => {
    const bridge = await new Bridge().start();
    t.after(() => bridge.dispose());
    const firefox = await openPage(t);

    await startFetch(firefox, 'status', '/status', 60000);
    await waitForQuestion(firefox);
    await answer(firefox, 'Allow');
    const status = await fetchResult(firefox, 'status');
    assert.deepEqual([status.type, status.status], ['cors', 200], JSON.stringify(status));
    const { token } = JSON.parse(status.text);
    assert.equal(token, bridge.token());
    assert.equal(await permission(firefox), 'granted');
    await holdLiveChannel(firefox, token);
  });

  test('blocked: fetch fails at once without a byte sent, while a WebSocket still gets through', async (t) => {
    const listener = await countingListener();
    t.after(() => listener.close());
    const firefox = await openPage(t);

    await startFetch(firefox, 'asked', '/heartbeat', 60000);
    await waitForQuestion(firefox);
    await answer(firefox, 'Block');
    assert.equal((await fetchResult(firefox, 'asked')).error, 'TypeError');
    assert.equal(await permission(firefox), 'denied');
    // Asked again, the page is not: the answer stands and the request fails fast.
    await startFetch(firefox, 'again', '/heartbeat', 60000);
    const again = await fetchResult(firefox, 'again');
    assert.equal(again.error, 'TypeError');
    assert.ok(again.ms < 1000, `failed after ${Math.round(again.ms)} ms`);
    t.diagnostic(`blocked fetch failed after ${Math.round(again.ms)} ms`);
    assert.equal(await question(firefox), null);
    await sleep(300);
    assert.equal(listener.bytes, 0, `${listener.bytes} bytes over ${listener.connections} connections`);

    // As Firefox ships (network.lna.websocket.enabled false), Block does not cover WebSockets.
    await openChannel(firefox, 'live', `ws://127.0.0.1:${PORT}/live?token=x`, 'orva-local-helper');
    await until(() => listener.bytes > 0, { timeout: 5000, what: 'the WebSocket request' });
  });

  test('not answered: the request waits, and the page\'s own time-out ends it', async (t) => {
    const listener = await countingListener();
    t.after(() => listener.close());
    const firefox = await openPage(t);

    await startFetch(firefox, 'status', '/status', 3000);
    await waitForQuestion(firefox);
    const status = await fetchResult(firefox, 'status');
    assert.equal(status.error, 'TimeoutError');
    assert.ok(status.ms >= 2900, `ended after ${Math.round(status.ms)} ms`);
    assert.notEqual(await question(firefox), null, 'the question stays open');
    assert.equal(await permission(firefox), 'prompt');
    assert.equal(listener.bytes, 0, `${listener.bytes} bytes over ${listener.connections} connections`);
  });

  test('WebSocket first: no question is asked and the channel works with a known token', async (t) => {
    const bridge = await new Bridge().start();
    t.after(() => bridge.dispose());
    const firefox = await openPage(t);

    await holdLiveChannel(firefox, bridge.token());
    assert.equal(await question(firefox), null);
    assert.equal(await permission(firefox), 'prompt');
    // A refused token: error, then close 1006.
    await openChannel(firefox, 'refused', `ws://127.0.0.1:${PORT}/live?token=wrong`, 'orva-local-helper');
    const refused = await until(async () => { const r = await channelRecord(firefox, 'refused'); return r.closed && r; },
      { timeout: 5000, what: 'the refused channel to close' });
    assert.deepEqual({ opened: refused.opened, errored: refused.errored, code: refused.closed.code }, { opened: false, errored: true, code: 1006 });
  });
});
