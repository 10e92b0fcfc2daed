import { chromium } from 'playwright-core';
import path from 'node:path';
import { startSite, consoleSeed } from './site.mjs';
const site = startSite(path.resolve('build/release'), 'apply-shot-', consoleSeed);
const home = path.join(site.tmp, 'home');
site.trustStore(path.join(home, '.pki/nssdb'));
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', env: { ...process.env, HOME: home }, headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'] });
try {
  const ctx = await browser.newContext({ viewport: { width: 390, height: 844 }, httpCredentials: site.staff });
  const page = await ctx.newPage();
  for (const [f, q] of [['table', ''], ['applicant', 'view=applicant&a=Applicant%20000001'], ['audit', 'view=audit'], ['figures', 'view=figures']]) {
    await page.goto(`${site.base}/staff.cgi?${q}`);
    await page.screenshot({ path: `/tmp/audshots/${f}.png`, fullPage: false });
  }
  const wide = await browser.newContext({ viewport: { width: 1280, height: 700 }, httpCredentials: site.staff });
  const p2 = await wide.newPage();
  await p2.goto(`${site.base}/staff.cgi?view=applicant&a=Applicant%20000001`);
  await p2.screenshot({ path: `/tmp/audshots/applicant-wide.png` });
  await p2.goto(`${site.base}/staff.cgi?view=audit`);
  await p2.screenshot({ path: `/tmp/audshots/audit-wide.png` });
} finally { await browser.close(); site.stop(); }
