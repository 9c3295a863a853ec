'use strict';
// The live channel opened by Chromium itself, from a page of the program's own origin.

const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');
const {
  Bridge, ORIGIN, PORT, channelClose, channelRecord, channelSend, httpGet, launchBrowser, openChannel, until,
} = require('./lib');

const MEMBERS = ['localIp', 'wanIp', 'gatewayIp', 'dnsServers', 'macAddress', 'deviceName', 'interfaceAlias',
  'interfaceType', 'dhcpEnabled', 'networkMode', 'wanSource', 'routerDetected', 'token'];

describe('live channel from a real browser', () => {
  let bridge;
  let browser;
  let page;
  let token;

  before(async () => {
    bridge = await new Bridge().start();
    token = bridge.token();
    browser = await launchBrowser();
    page = await browser.newPage();
    await page.goto(`${ORIGIN}/ui`);
  });

  after(async () => {
    await browser?.close();
    await bridge?.dispose();
  });

  const open = (name, query, protocols) => openChannel(page, name, `ws://127.0.0.1:${PORT}/live${query}`, protocols);
  const record = (name) => channelRecord(page, name);
  const send = (name, text) => channelSend(page, name, text);

  test('the right token and subprotocol open the channel; the status document arrives once', async () => {
    await open('main', `?token=${token}`, 'orva-local-helper');
    const first = await until(async () => { const r = await record('main'); return r.messages.length > 0 && r; },
      { timeout: 5000, what: 'the first message' });
    assert.equal(first.opened, true);
    assert.equal(first.protocol, 'orva-local-helper');
    assert.equal(first.extensions, '', 'no extension is negotiated');
    // About half a second plus one survey (about 1.2 s without a router).
    assert.ok(first.messages[0].at < 3000, `first document after ${first.messages[0].at} ms`);

    const text = first.messages[0].data;
    const document = JSON.parse(text);
    assert.deepEqual(Object.keys(document), MEMBERS);
    assert.equal(document.token, token);
    assert.equal(text, (await httpGet('/status')).body.toString('utf8'), 'the same text /status serves');

    // The next status check comes 3 s after the first: the unchanged document is not sent again.
    await new Promise((resolve) => setTimeout(resolve, 4500));
    const later = await record('main');
    assert.equal(later.messages.length, 1, 'no second copy while nothing changes');
    assert.equal(later.closed, null);
  });

  test('"ping" is answered with "pong"; other words are not', async () => {
    const before = (await record('main')).messages.length;
    for (const word of ['PING', 'ping!', ' ping\n']) await send('main', word);
    const answered = await until(async () => { const r = await record('main'); return r.messages.length > before && r; },
      { timeout: 3000, what: 'an answer' });
    await new Promise((resolve) => setTimeout(resolve, 500));
    const replies = (await record('main')).messages.slice(before).map((m) => m.data);
    assert.deepEqual(replies, ['pong'], 'only the trimmed "ping" is answered');
    assert.equal(answered.closed, null);
  });

  test('without a requested subprotocol the channel opens with none', async () => {
    await open('plain', `?token=${token}`);
    const opened = await until(async () => { const r = await record('plain'); return (r.opened || r.closed) && r; },
      { timeout: 3000, what: 'the channel to open' });
    assert.equal(opened.opened, true, `closed instead: ${JSON.stringify(opened.closed)}`);
    assert.equal(opened.protocol, '');
  });

  test('a wrong or missing token never opens', async () => {
    const wrong = token.slice(0, -1) + (token.endsWith('a') ? 'b' : 'a');
    for (const [name, query] of [['wrong', `?token=${wrong}`], ['none', ''], ['empty', '?token=']]) {
      await open(name, query, 'orva-local-helper');
      const result = await until(async () => { const r = await record(name); return r.closed && r; },
        { timeout: 3000, what: `${name} token to fail` });
      assert.equal(result.opened, false, name);
      assert.equal(result.errored, true, name);
      assert.equal(result.closed.code, 1006, name);
    }
  });

  test('closing from the page ends the channel without a Close frame back', async () => {
    await channelClose(page, 'main');
    const closed = await until(async () => (await record('main')).closed, { timeout: 3000, what: 'the close event' });
    // A Close frame from the program would make this a clean 1000 close.
    assert.deepEqual([closed.code, closed.wasClean], [1006, false]);
  });
});
