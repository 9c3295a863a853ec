'use strict';
// The status page from the program's /ui, with /status answered by the test itself: documents the
// machine cannot produce, held answers, failures, and the MAC copy with its toast.

const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');
const { Bridge, ORIGIN, launchBrowser, pageState, sleep, until } = require('./lib');

const FULL = {
  localIp: '192.168.1.23', wanIp: '203.0.113.7', gatewayIp: '192.168.1.1', dnsServers: ['192.168.1.1', '223.5.5.5'],
  macAddress: '3C:7C:3F:1E:2A:9B', deviceName: 'DESKTOP-7Q2M', interfaceAlias: 'WLAN', interfaceType: 'wifi',
  dhcpEnabled: true, networkMode: 'dhcp', wanSource: 'upnp', routerDetected: true, token: 'x'.repeat(32),
};
const EMPTY_ROW = { text: '—', muted: true };
const shown = (text) => ({ text, muted: false });

// Answers /status from `current`: a document (object), raw text, or a function taking the route.
async function scriptStatus(target, first) {
  const script = { current: first, asked: 0 };
  await target.route(`${ORIGIN}/status`, async (route) => {
    script.asked += 1;
    const answer = script.current;
    if (typeof answer === 'function') return answer(route);
    const body = typeof answer === 'string' ? answer : JSON.stringify(answer);
    return route.fulfill({ status: 200, contentType: 'application/json', body });
  });
  return script;
}

describe('status page with a scripted /status', () => {
  let bridge;
  let browser;

  before(async () => {
    bridge = await new Bridge().start(); // serves /ui and /icon.png
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await bridge?.dispose();
  });

  test('before the first answer every value is a muted "—" and the dot is offline', async () => {
    const page = await browser.newPage();
    let release;
    const held = new Promise((resolve) => { release = resolve; });
    const script = await scriptStatus(page, async (route) => { await held; await route.fulfill({ json: FULL }); });
    await page.goto(`${ORIGIN}/ui`);
    await until(() => script.asked === 1, { what: 'the first /status request' });
    const state = await pageState(page);
    assert.deepEqual(Object.values(state.rows), Array(7).fill(EMPTY_ROW));
    assert.equal(state.online, false);
    assert.equal(state.dotTitle, '离线');
    release();
    await until(async () => (await pageState(page)).online, { what: 'online once answered' });
    await page.close();
  });

  test('display rules for the values of the document', async () => {
    const page = await browser.newPage();
    const script = await scriptStatus(page, FULL);
    await page.goto(`${ORIGIN}/ui`);
    // Each case has its own localIp, so the test knows when the page has shown it.
    const cases = [
      ['wifi appends "（Wi-Fi）"; dhcp; wanIp and two DNS servers shown', FULL, {
        'v-localIp': shown('192.168.1.23'), 'v-wanIp': shown('203.0.113.7'), 'v-gatewayIp': shown('192.168.1.1'),
        'v-macAddress': shown('3C:7C:3F:1E:2A:9B'), 'v-iface': shown('WLAN（Wi-Fi）'),
        'v-dns': shown('192.168.1.1 / 223.5.5.5'), 'v-mode': shown('自动获取 (DHCP)'),
      }],
      ['ethernet shows the alias alone; static; empty values go back to muted "—"', {
        ...FULL, localIp: '10.0.0.2', wanIp: '', gatewayIp: '', macAddress: '', dnsServers: [],
        interfaceAlias: '以太网 2', interfaceType: 'ethernet', dhcpEnabled: false, networkMode: 'static',
      }, {
        'v-localIp': shown('10.0.0.2'), 'v-wanIp': EMPTY_ROW, 'v-gatewayIp': EMPTY_ROW, 'v-macAddress': EMPTY_ROW,
        'v-iface': shown('以太网 2'), 'v-dns': EMPTY_ROW, 'v-mode': shown('静态 IP'),
      }],
      ['empty alias with wifi is "—"; missing networkMode is static; missing DNS list is "—"', (() => {
        const doc = { ...FULL, localIp: '10.0.0.3', interfaceAlias: '', interfaceType: 'wifi' };
        delete doc.networkMode;
        delete doc.dnsServers;
        return doc;
      })(), {
        'v-localIp': shown('10.0.0.3'), 'v-wanIp': shown('203.0.113.7'), 'v-gatewayIp': shown('192.168.1.1'),
        'v-macAddress': shown('3C:7C:3F:1E:2A:9B'), 'v-iface': EMPTY_ROW, 'v-dns': EMPTY_ROW, 'v-mode': shown('静态 IP'),
      }],
      ['one DNS server has no separator; an unknown type shows the alias; text is never markup', {
        ...FULL, localIp: '10.0.0.4', dnsServers: ['fe80::1'], interfaceAlias: '<b>eth0</b> "x" & y',
        interfaceType: '', networkMode: 'DHCP',
      }, {
        'v-localIp': shown('10.0.0.4'), 'v-wanIp': shown('203.0.113.7'), 'v-gatewayIp': shown('192.168.1.1'),
        'v-macAddress': shown('3C:7C:3F:1E:2A:9B'), 'v-iface': shown('<b>eth0</b> "x" & y'), 'v-dns': shown('fe80::1'),
        'v-mode': shown('静态 IP'),
      }],
      ['the document of a machine with no adapter', {
        localIp: '', wanIp: '', gatewayIp: '', dnsServers: [], macAddress: '', deviceName: 'PC-01', interfaceAlias: '',
        interfaceType: '', dhcpEnabled: false, networkMode: 'static', wanSource: '', routerDetected: false, token: 'x'.repeat(32),
      }, {
        'v-localIp': EMPTY_ROW, 'v-wanIp': EMPTY_ROW, 'v-gatewayIp': EMPTY_ROW, 'v-macAddress': EMPTY_ROW,
        'v-iface': EMPTY_ROW, 'v-dns': EMPTY_ROW, 'v-mode': shown('静态 IP'),
      }],
    ];
    for (const [name, doc, expected] of cases) {
      script.current = doc;
      await page.click('#btn-refresh');
      const wanted = expected['v-localIp'].text;
      const state = await until(async () => {
        const s = await pageState(page);
        return s.rows['v-localIp'].text === wanted && s;
      }, { timeout: 10000, what: `the page to show: ${name}` });
      assert.deepEqual(state.rows, expected, name);
      assert.equal(state.online, true, name);
      assert.equal((await page.$$('#v-iface b')).length, 0, 'no markup from the document');
    }
    await page.close();
  });

  test('a failed refresh turns the dot offline and keeps the rows; a good one turns it online', async () => {
    const page = await browser.newPage();
    const script = await scriptStatus(page, FULL);
    await page.goto(`${ORIGIN}/ui`);
    const good = await until(async () => { const s = await pageState(page); return s.online && s; }, { what: 'online' });
    const failures = [
      ['an answer that is not JSON', '<html>busy</html>'],
      ['no answer at all', (route) => route.abort('connectionrefused')],
      ['a 404 page', (route) => route.fulfill({ status: 404, contentType: 'text/plain', body: '404 page not found\n' })],
    ];
    for (const [name, answer] of failures) {
      script.current = answer;
      await page.click('#btn-refresh');
      const state = await until(async () => { const s = await pageState(page); return !s.online && s; },
        { timeout: 10000, what: `offline after ${name}` });
      assert.equal(state.dotTitle, '离线', name);
      assert.deepEqual(state.rows, good.rows, `${name}: the rows keep what they showed`);
      script.current = FULL;
      await page.click('#btn-refresh');
      const back = await until(async () => { const s = await pageState(page); return s.online && s; },
        { timeout: 10000, what: `online after ${name}` });
      assert.equal(back.dotTitle, '在线');
    }
    await page.close();
  });

  test('polls every 3000 ms whether or not the previous answer came', async () => {
    const context = await browser.newContext();
    // Fake time, paused: only runFor moves it.
    await context.clock.install({ time: 1_000_000 });
    await context.clock.pauseAt(1_000_000);
    await context.addInitScript(() => {
      window.__statusAskedAt = [];
      const realFetch = window.fetch.bind(window);
      window.fetch = (input, init) => {
        if (String(input).endsWith('/status')) window.__statusAskedAt.push({ at: Date.now(), cache: init?.cache });
        return realFetch(input, init);
      };
    });
    const page = await context.newPage();
    await scriptStatus(page, () => new Promise(() => {})); // never answered
    await page.goto(`${ORIGIN}/ui`);
    const asked = () => page.evaluate(() => window.__statusAskedAt);
    const first = await until(async () => { const a = await asked(); return a.length === 1 && a[0]; }, { what: 'the load-time refresh' });
    assert.equal(first.cache, 'no-store', 'the browser cache is bypassed');

    await context.clock.runFor(2999);
    assert.equal((await asked()).length, 1, 'nothing before 3000 ms');
    await context.clock.runFor(1);
    await context.clock.runFor(6000);
    const times = (await asked()).map((entry) => entry.at - first.at);
    assert.deepEqual(times, [0, 3000, 6000, 9000]);
    assert.equal((await pageState(page)).online, false);
    await context.close();
  });

  describe('copying the MAC address', () => {
    let context;
    let page;
    let script;

    before(async () => {
      context = await browser.newContext();
      await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: ORIGIN });
      await context.clock.install({ time: 1_000_000 });
      await context.clock.pauseAt(1_000_000);
      page = await context.newPage();
      script = await scriptStatus(page, FULL);
      await page.goto(`${ORIGIN}/ui`);
      await until(async () => (await pageState(page)).rows['v-macAddress'].text === FULL.macAddress, { what: 'the MAC' });
    });

    after(() => context?.close());

    const clipboard = () => page.evaluate(() => navigator.clipboard.readText());
    const toast = () => page.evaluate(() => {
      const el = document.getElementById('toast');
      return { text: el.textContent, show: el.classList.contains('show'), opacity: getComputedStyle(el).opacity };
    });
    // The toast's text is set on every show: blank it first, and its return marks the moment.
    const clickAndAwaitToast = async () => {
      await page.evaluate(() => { document.getElementById('toast').textContent = ''; });
      await page.click('#v-macAddress');
      await until(async () => (await toast()).text === 'MAC 已复制', { timeout: 10000, what: 'the toast' });
    };

    test('a click copies the MAC and shows "MAC 已复制" for 1600 ms; a second click restarts the time', async () => {
      await page.evaluate(() => navigator.clipboard.writeText('before'));
      await clickAndAwaitToast();
      assert.equal(await clipboard(), FULL.macAddress);
      assert.equal((await toast()).show, true);
      await context.clock.runFor(1599);
      assert.equal((await toast()).show, true, 'still shown at 1599 ms');
      await context.clock.runFor(1);
      assert.equal((await toast()).show, false, 'hidden at 1600 ms');

      await clickAndAwaitToast();
      await context.clock.runFor(1000);
      await clickAndAwaitToast();
      await context.clock.runFor(1599);
      assert.equal((await toast()).show, true, 'the second click started a new 1600 ms');
      await context.clock.runFor(1);
      assert.equal((await toast()).show, false);
    });

    test('the toast is visible at the bottom centre while shown and hidden otherwise', async () => {
      await clickAndAwaitToast();
      await sleep(400); // past the .25 s transition
      const box = await page.locator('#toast').boundingBox();
      const viewport = page.viewportSize();
      assert.equal((await toast()).opacity, '1');
      assert.ok(Math.abs(box.x + box.width / 2 - viewport.width / 2) <= 1, 'centred');
      assert.ok(Math.abs(viewport.height - (box.y + box.height) - 32) <= 1, '32px above the bottom');
      await context.clock.runFor(1600);
      await sleep(400);
      assert.equal((await toast()).opacity, '0');
    });

    test('a click while the MAC shows "—" does nothing', async () => {
      script.current = { ...FULL, macAddress: '' };
      await page.click('#btn-refresh');
      await until(async () => (await pageState(page)).rows['v-macAddress'].text === '—', { what: 'the empty MAC' });
      await page.evaluate(() => navigator.clipboard.writeText('before'));
      await page.click('#v-macAddress');
      await sleep(300);
      assert.equal(await clipboard(), 'before');
      assert.deepEqual(await toast(), { text: 'MAC 已复制', show: false, opacity: '0' });
      script.current = FULL;
      await page.click('#btn-refresh');
      await until(async () => (await pageState(page)).rows['v-macAddress'].text === FULL.macAddress, { what: 'the MAC' });
    });
  });

  test('without a working asynchronous clipboard the text-area fallback copies', async () => {
    const context = await browser.newContext();
    await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: ORIGIN });
    const variants = {
      'writeText refuses': () => { Clipboard.prototype.writeText = () => Promise.reject(new DOMException('denied', 'NotAllowedError')); },
      'no navigator.clipboard': () => { Object.defineProperty(Navigator.prototype, 'clipboard', { get: () => undefined }); },
    };
    for (const [name, breakClipboard] of Object.entries(variants)) {
      const page = await context.newPage();
      await scriptStatus(page, FULL);
      await page.addInitScript(breakClipboard);
      await page.goto(`${ORIGIN}/ui`);
      await until(async () => (await pageState(page)).rows['v-macAddress'].text === FULL.macAddress, { what: 'the MAC' });
      // Read through a page whose clipboard still works.
      const reader = await context.newPage();
      await reader.goto(`${ORIGIN}/icon.png`);
      await reader.evaluate(() => navigator.clipboard.writeText('before'));
      await page.bringToFront();
      await page.click('#v-macAddress');
      await until(() => page.evaluate(() => document.getElementById('toast').classList.contains('show')),
        { timeout: 10000, what: `the toast (${name})` });
      await reader.bringToFront();
      assert.equal(await reader.evaluate(() => navigator.clipboard.readText()), FULL.macAddress, name);
      assert.equal(await page.evaluate(() => document.querySelectorAll('textarea').length), 0, `${name}: text area removed`);
      await reader.close();
      await page.close();
    }
    await context.close();
  });
});
