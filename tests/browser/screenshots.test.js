'use strict';
// The page's look in both colour schemes: computed colours and sizes, and screenshots under
// tests/artifacts/ for a person to look at.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const { ARTIFACTS, Bridge, ORIGIN, launchBrowser, pageState, sleep, until } = require('./lib');

const DOCUMENT = {
  localIp: '192.168.31.118', wanIp: '116.228.45.203', gatewayIp: '192.168.31.1', dnsServers: ['192.168.31.1', '114.114.114.114'],
  macAddress: 'A4:BB:6D:5C:2E:91', deviceName: 'DESKTOP-7Q2M', interfaceAlias: 'WLAN', interfaceType: 'wifi',
  dhcpEnabled: true, networkMode: 'dhcp', wanSource: 'upnp', routerDetected: true, token: 'x'.repeat(32),
};

const COLOURS = {
  light: { bg1: 'rgb(250, 251, 253)', bg2: 'rgb(242, 244, 248)', card: 'rgb(255, 255, 255)', text1: 'rgb(12, 18, 32)',
    text2: 'rgb(58, 66, 88)', text3: 'rgb(125, 134, 155)', accent: 'rgb(0, 113, 227)', hairline: 'rgba(15, 23, 42, 0.08)' },
  dark: { bg1: 'rgb(0, 0, 0)', bg2: 'rgb(22, 22, 23)', card: 'rgb(28, 28, 30)', text1: 'rgb(245, 245, 247)',
    text2: 'rgb(199, 199, 204)', text3: 'rgb(142, 142, 147)', accent: 'rgb(41, 151, 255)', hairline: 'rgba(255, 255, 255, 0.1)' },
};
const GREEN = 'rgb(48, 209, 88)';

describe('status page look', () => {
  let bridge;
  let browser;

  before(async () => {
    bridge = await new Bridge().start();
    browser = await launchBrowser();
    fs.mkdirSync(ARTIFACTS, { recursive: true });
  });

  after(async () => {
    await browser?.close();
    await bridge?.dispose();
  });

  for (const scheme of ['light', 'dark']) {
    test(`${scheme} colour scheme: colours, sizes and a screenshot`, async () => {
      const context = await browser.newContext({ viewport: { width: 520, height: 760 }, deviceScaleFactor: 2 });
      await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: ORIGIN });
      const page = await context.newPage();
      await page.emulateMedia({ colorScheme: scheme });
      await page.route(`${ORIGIN}/status`, (route) => route.fulfill({ json: DOCUMENT }));
      await page.goto(`${ORIGIN}/ui`);
      await until(async () => (await pageState(page)).online, { what: 'online' });
      await page.mouse.move(0, 0);
      await sleep(400); // past the dot's .3 s transition

      const look = await page.evaluate(() => {
        const style = (selector) => getComputedStyle(document.querySelector(selector));
        const box = (selector) => { const r = document.querySelector(selector).getBoundingClientRect(); return [r.width, r.height]; };
        // A muted value, to read its colour while every row shows a value.
        const probe = document.createElement('span');
        probe.className = 'value muted';
        document.getElementById('rows').appendChild(probe);
        const muted = getComputedStyle(probe);
        const result = {
          bodyBackground: style('body').backgroundImage,
          bodyText: style('body').color,
          card: style('.card').backgroundColor,
          cardBorder: style('.card').borderTopColor,
          cardRadius: style('.card').borderTopLeftRadius,
          label: style('.label').color,
          value: [style('#v-localIp').color, style('#v-localIp').fontWeight],
          muted: [muted.color, muted.fontWeight],
          mac: [style('#v-macAddress').color, style('#v-macAddress').cursor],
          sub: style('.sub').color,
          dot: style('#dot').backgroundColor,
          primary: [style('#btn-refresh').backgroundColor, style('#btn-refresh').color],
          ghost: style('.btn-ghost').color,
          rowBorder: style('.row').borderBottomColor,
          cardSize: box('.card'),
          icon: box('.brand img'),
          buttons: [box('#btn-refresh'), box('.btn-ghost')],
        };
        probe.remove();
        return result;
      });
      const colours = COLOURS[scheme];
      assert.equal(look.bodyBackground, `linear-gradient(${colours.bg1} 0%, ${colours.bg2} 100%)`);
      assert.equal(look.bodyText, colours.text1);
      assert.equal(look.card, colours.card);
      assert.equal(look.cardBorder, colours.hairline);
      assert.equal(look.cardRadius, '16px');
      assert.equal(look.label, colours.text2);
      assert.deepEqual(look.value, [colours.text1, '500']);
      assert.deepEqual(look.muted, [colours.text3, '400']);
      assert.deepEqual(look.mac, [colours.accent, 'pointer']);
      assert.equal(look.sub, colours.text3);
      assert.equal(look.dot, GREEN);
      assert.deepEqual(look.primary, [colours.accent, 'rgb(255, 255, 255)']);
      assert.equal(look.ghost, colours.accent);
      assert.equal(look.rowBorder, colours.hairline);
      assert.equal(look.cardSize[0], 420, 'the card is 420px wide in a wide window');
      assert.deepEqual(look.icon, [44, 44]);
      assert.deepEqual(look.buttons[0], look.buttons[1], 'two equal pill buttons');
      assert.equal(look.buttons[0][1], 40);

      await page.screenshot({ path: path.join(ARTIFACTS, `status-page-${scheme}.png`) });
      // The toast over the page, as a user sees it after copying the MAC.
      await page.click('#v-macAddress');
      await until(() => page.evaluate(() => document.getElementById('toast').classList.contains('show')), { what: 'the toast' });
      await sleep(350);
      await page.screenshot({ path: path.join(ARTIFACTS, `status-page-${scheme}-toast.png`) });
      await context.close();
    });
  }

  // Below about 382px the link's text no longer fits on one line of its 40px pill.
  test('narrow window: long values wrap inside the card, labels and buttons stay on one line', async () => {
    const context = await browser.newContext({ viewport: { width: 400, height: 700 }, deviceScaleFactor: 2 });
    const page = await context.newPage();
    const long = { ...DOCUMENT, dnsServers: ['2408:8000:1010:1::8', '2408:8000:1010:2::8', '114.114.114.114'],
      interfaceAlias: 'Intel(R) Wi-Fi 6E AX211 160MHz 无线网络连接 2' };
    await page.route(`${ORIGIN}/status`, (route) => route.fulfill({ json: long }));
    await page.goto(`${ORIGIN}/ui`);
    await until(async () => (await pageState(page)).online, { what: 'online' });
    const layout = await page.evaluate(() => {
      const card = document.querySelector('.card').getBoundingClientRect();
      const outside = [...document.querySelectorAll('.card *')].filter((el) => {
        const r = el.getBoundingClientRect();
        return r.right > card.right + 0.5 || r.left < card.left - 0.5;
      }).map((el) => el.id || el.className);
      const lines = (el) => { const range = document.createRange(); range.selectNodeContents(el); return new Set([...range.getClientRects()].map((r) => Math.round(r.top))).size; };
      return {
        outside,
        scrollWidth: document.documentElement.scrollWidth,
        wrapped: [...document.querySelectorAll('.label, .btn')].filter((el) => lines(el) !== 1).map((el) => el.textContent.trim()),
        dnsLines: lines(document.getElementById('v-dns')),
      };
    });
    assert.deepEqual(layout.outside, []);
    assert.equal(layout.scrollWidth, 400, 'no sideways scrolling');
    assert.deepEqual(layout.wrapped, []);
    assert.ok(layout.dnsLines > 1, 'the long DNS list wraps');
    await page.screenshot({ path: path.join(ARTIFACTS, 'status-page-narrow.png'), fullPage: true });
    await context.close();
  });
});
