// Debian's Chromium, headless, through playwright-core: launch() resolves to
// a browser with a fresh profile that is removed on close.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

async function launch() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'btcfit-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.BTCFIT_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1200, height: 900 },
  });
  const close = context.close.bind(context);
  context.close = async () => {
    await close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return context;
}

module.exports = { launch };
