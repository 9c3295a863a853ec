'use strict';
// The live channel opened by Chromium itself, from a page of the program's own origin: what only a
// browser shows (the subprotocol and extensions it asks for, closing from a page). The token,
// "ping" and the frames themselves are tested by hand in tests/integration.

const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');
const { Bridge, ORIGIN, PORT, channelClose, channelRecord, launchBrowser, openChannel, until } = require('./lib');

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

  test('the subprotocol the page asks for is named, no extension is taken, the document arrives', async () => {
    await open('main', `?token=${token}`, 'orva-local-helper');
    const first = await until(async () => { const r = await record('main'); return r.messages.length > 0 && r; },
      { timeout: 5000, what: 'the first message' });
    assert.equal(first.opened, true);
    assert.equal(first.protocol, 'orva-local-helper');
    assert.equal(first.extensions, '', 'no extension is negotiated');
    assert.equal(JSON.parse(first.messages[0].data).token, token);
    assert.equal(first.closed, null);
  });

  test('without a requested subprotocol the channel opens with none', async () => {
    await open('plain', `?token=${token}`);
    const opened = await until(async () => { const r = await record('plain'); return (r.opened || r.closed) && r; },
      { timeout: 10000, what: 'the channel to open' });
    assert.equal(opened.opened, true, `closed instead: ${JSON.stringify(opened.closed)}`);
    assert.equal(opened.protocol, '');
  });

  test('closing from the page ends the channel without a Close frame back', async () => {
    await channelClose(page, 'main');
    const closed = await until(async () => (await record('main')).closed, { timeout: 10000, what: 'the close event' });
    // A Close frame from the program would make this a clean 1000 close.
    assert.deepEqual([closed.code, closed.wasClean], [1006, false]);
  });
});
