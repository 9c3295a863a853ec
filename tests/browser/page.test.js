'use strict';
// The status page as the program serves it, reading the program's own /status over the test
// network that ./run builds (one selected adapter, two resolver entries, no UPnP router).

const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');
const { Bridge, ORIGIN, httpGet, launchBrowser, pageState, sleep, until } = require('./lib');

const ROWS = [
  ['本机 IP', 'v-localIp'], ['出口 IP', 'v-wanIp'], ['网关', 'v-gatewayIp'], ['MAC 地址', 'v-macAddress'],
  ['网卡', 'v-iface'], ['DNS', 'v-dns'], ['获取方式', 'v-mode'],
];

describe('status page served by the program', () => {
  let bridge;
  let browser;
  let page;

  before(async () => {
    bridge = await new Bridge().start();
    browser = await launchBrowser();
    page = await (await browser.newContext()).newPage();
    await page.goto(`${ORIGIN}/ui`);
  });

  after(async () => {
    await browser?.close();
    await bridge?.dispose();
  });

  test('document: title, language, rows in order, brand, link', async () => {
    const facts = await page.evaluate(() => ({
      title: document.title,
      lang: document.documentElement.lang,
      charset: document.characterSet,
      viewport: document.querySelector('meta[name=viewport]')?.content,
      rows: [...document.querySelectorAll('#rows > .row')].map((row) => [
        row.querySelector('.label')?.textContent, row.querySelector('.value')?.id]),
      heading: document.querySelector('.brand .titles h1')?.textContent,
      sub: document.querySelector('.brand .titles .sub')?.textContent,
      icon: (() => { const img = document.querySelector('.brand img'); return img && { src: img.getAttribute('src'), alt: img.alt, loaded: img.complete && img.naturalWidth }; })(),
      macTitle: document.getElementById('v-macAddress').title,
      macClickable: document.getElementById('v-macAddress').classList.contains('clickable'),
      refresh: (() => { const b = document.getElementById('btn-refresh'); return [b?.tagName, b?.textContent.trim(), b?.className]; })(),
      link: [...document.querySelectorAll('.actions a')].map((a) => ({
        text: a.textContent.trim(), href: a.href, target: a.target, rel: a.rel, cls: a.className })),
      toast: (() => { const t = document.getElementById('toast'); return [t?.className, t?.textContent]; })(),
    }));
    assert.equal(facts.title, '网络助手');
    assert.equal(facts.lang, 'zh-CN');
    assert.equal(facts.charset, 'UTF-8');
    assert.equal(facts.viewport, 'width=device-width, initial-scale=1.0');
    assert.deepEqual(facts.rows, ROWS);
    assert.equal(facts.heading, '网络助手');
    assert.equal(facts.sub, 'ORVA-Network-Helper');
    assert.deepEqual(facts.icon, { src: '/icon.png', alt: 'logo', loaded: 256 });
    assert.equal(facts.macTitle, '点击复制');
    assert.ok(facts.macClickable);
    assert.deepEqual(facts.refresh, ['BUTTON', '刷新', 'btn btn-primary']);
    assert.equal(facts.link.length, 1);
    const [link] = facts.link;
    assert.equal(link.text, '打开Nerova主站');
    assert.equal(link.target, '_blank');
    assert.ok(link.rel.split(/\s+/).includes('noopener'), `rel is "${link.rel}"`);
    assert.equal(link.cls, 'btn btn-ghost');
    assert.match(link.href, /^https?:\/\/[^@]+$/, 'the build-time site address is filled in');
    if (process.env.NEROVA_MAIN_SITE_URL) assert.equal(new URL(link.href).href, new URL(process.env.NEROVA_MAIN_SITE_URL).href);
    assert.deepEqual(facts.toast, ['toast', '已复制']);
  });

  test('rows fill from the program\'s /status and the dot turns online', async () => {
    const doc = JSON.parse((await httpGet('/status')).body);
    // Without these the comparison below would prove little.
    assert.ok(doc.localIp && doc.macAddress && doc.interfaceAlias && doc.dnsServers.length >= 2,
      `the test network should give a filled document: ${JSON.stringify(doc)}`);
    const state = await until(async () => {
      const s = await pageState(page);
      return s.online && s.rows['v-localIp'].text !== '—' && s;
    }, { timeout: 8000, what: 'the first refresh' });
    assert.equal(state.dotTitle, '在线');
    const shown = (text) => (text ? { text, muted: false } : { text: '—', muted: true });
    assert.deepEqual(state.rows, {
      'v-localIp': shown(doc.localIp),
      'v-wanIp': shown(doc.wanIp),
      'v-gatewayIp': shown(doc.gatewayIp),
      'v-macAddress': shown(doc.macAddress),
      'v-iface': shown(doc.interfaceType === 'wifi' ? `${doc.interfaceAlias}（Wi-Fi）` : doc.interfaceAlias),
      'v-dns': shown(doc.dnsServers.join(' / ')),
      'v-mode': shown(doc.networkMode === 'dhcp' ? '自动获取 (DHCP)' : '静态 IP'),
    });
    // No UPnP router answers inside the namespace.
    assert.deepEqual(state.rows['v-wanIp'], { text: '—', muted: true });
  });

  test('"刷新" asks for /status at once, between the 3 s polls', async () => {
    // Times are taken inside the page: a slow test machine must not stretch them.
    const statusStarts = () => page.evaluate(() => performance.getEntriesByType('resource')
      .filter((entry) => new URL(entry.name).pathname === '/status').map((entry) => entry.startTime));
    await page.evaluate(() => {
      window.__clickedAt = [];
      document.getElementById('btn-refresh').addEventListener('click', () => window.__clickedAt.push(performance.now()), true);
    });
    const seen = (await statusStarts()).length;
    await until(async () => (await statusStarts()).length > seen, { timeout: 6000, what: 'a scheduled poll' });
    await sleep(300);
    await page.click('#btn-refresh');
    const [clickedAt] = await page.evaluate(() => window.__clickedAt);
    const start = await until(async () => (await statusStarts()).find((at) => at >= clickedAt),
      { timeout: 4000, what: 'a /status request after the click' });
    // The next poll is 2.7 s away: a click that waited for it would start far later.
    assert.ok(start - clickedAt < 1000, `request started ${Math.round(start - clickedAt)} ms after the click`);
  });

  test('dot goes offline when the service stops and online when it returns', async () => {
    await until(async () => (await pageState(page)).online, { timeout: 8000, what: 'online' });
    const shownBefore = (await pageState(page)).rows;
    assert.equal(await bridge.stop(), 0, 'SIGTERM ends the program with status 0');

    const stoppedAt = Date.now();
    const offline = await until(async () => { const s = await pageState(page); return !s.online && s; },
      { timeout: 8000, what: 'the dot to turn offline' });
    assert.ok(Date.now() - stoppedAt <= 2 * 3500, 'within two refresh intervals');
    assert.equal(offline.dotTitle, '离线');
    assert.deepEqual(offline.rows, shownBefore, 'the last values stay on screen');

    await bridge.start();
    const online = await until(async () => { const s = await pageState(page); return s.online && s; },
      { timeout: 10000, what: 'the dot to turn online again' });
    assert.equal(online.dotTitle, '在线');
  });

  test('the link opens the main site in a new browsing context without the opener', async () => {
    const href = await page.getAttribute('.actions a', 'href');
    const context = page.context();
    // Answer the main site here: nothing may leave the machine.
    await context.route(`${new URL(href).origin}/**`, (route) =>
      route.fulfill({ contentType: 'text/html', body: '<title>main site</title>' }));
    const [popup] = await Promise.all([context.waitForEvent('page'), page.click('.actions a')]);
    await popup.waitForLoadState();
    assert.equal(new URL(popup.url()).href, new URL(href).href);
    assert.equal(await popup.evaluate(() => window.opener), null);
    assert.equal(page.url(), `${ORIGIN}/ui`, 'the status page stays where it was');
    await popup.close();
  });
});
