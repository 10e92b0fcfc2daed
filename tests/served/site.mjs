// What the browser tests share: a site of their own served by lighttpd over HTTPS (with its test
// staff account and its own certificate authority, which the browsers are made to trust), the
// applicant and the resume they send, and the server's access log as a witness of what a page's
// scripts did.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repo = path.resolve(here, '../..');

export const applicant = {
  name: 'Mira Ødegård',
  mail: 'mira.odegard@example.com',
  // Characters outside ASCII in the name and the interest, and a line break in the interest, as a
  // person may type them.
  interest: 'Print layout and typesetting,\nespecially façades of old Zürich.',
};

// The resume: a binary file that does not begin with NUL or a line feed, with every byte value.
export const resumeBytes = Buffer.concat([
  Buffer.from([0xd0, 0xcf, 0x11, 0xe0]),
  Buffer.from(' resume\r\n\r\n--\r\n'),
  Buffer.from(Array.from({ length: 256 }, (_, i) => i)),
  Buffer.from(Array.from({ length: 5000 }, (_, i) => (i * 7919 + 13) & 0xff)),
]);

// An HTML "resume" whose script, if it ever ran, would load the logo under a marker of its own;
// the image after it loads in any case (a sandbox blocks scripts, not images), which tells when
// the page has been read.
export function scriptedResume(tag) {
  return `<!DOCTYPE html><html><head><title>resume</title></head><body>
<script>new Image().src = '/logo.jpg?script-ran-${tag}'; fetch('/people/index.html');</script>
<p>My resume</p><img src="/logo.jpg?page-read-${tag}">
</body></html>
`;
}

// Lays out a site from the build in a fresh temporary folder and serves it over HTTPS; `stop()`
// stops the server and removes the folder. `trustStore(dir)` makes an NSS certificate database in
// `dir` that trusts the site's authority: a Firefox profile, or Chromium's $HOME/.pki/nssdb. The
// store is seeded first with `seed`, tests/console/make_store.py's arguments after the store root
// (none: an empty store).
export function startSite(build, prefix, seed = []) {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  const site = path.join(tmp, 'site');
  const logDir = path.join(tmp, 'log');
  execFileSync(path.join(repo, 'serve/make-site'), [build, site], { stdio: 'inherit' });
  if (seed.length) execFileSync('python3', [path.join(repo, 'tests/console/make_store.py'), path.join(site, 'people'), ...seed]);
  const out = execFileSync(path.join(repo, 'serve/start-test-server'), [site], {
    env: { ...process.env, LOG_DIR: logDir, SERVER_MAX_SECONDS: '900', HTTPS: '1' },
  }).toString().trim();
  const [pid, , port] = out.split(/\s+/);
  const ca = path.join(logDir, 'tls/ca.pem');
  const trustStore = (dir) => {
    fs.mkdirSync(dir, { recursive: true });
    execFileSync('certutil', ['-N', '-d', `sql:${dir}`, '--empty-password']);
    execFileSync('certutil', ['-A', '-d', `sql:${dir}`, '-n', 'site authority', '-t', 'C,,', '-i', ca]);
    return dir;
  };
  const [username, password] = fs.readFileSync(path.join(logDir, 'staff-credentials'), 'utf8').trim().split(':');
  let running = true;
  const stop = () => {
    if (running) execFileSync(path.join(repo, 'serve/stop-server'), [pid]);
    running = false;
    fs.rmSync(tmp, { recursive: true, force: true });
  };
  // Also on an interrupt, so that no server outlives the test.
  for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => { stop(); process.exit(1); });
  return { tmp, site, base: `https://127.0.0.1:${port}`, staff: { username, password }, logDir, trustStore, stop };
}

// Waits until the access log shows a request whose URL holds `marker`; false after `ms`.
export async function requested(site, marker, ms = 5000) {
  const log = path.join(site.logDir, 'access.log');
  for (const until = Date.now() + ms; Date.now() < until;) {
    if (fs.existsSync(log) && fs.readFileSync(log, 'utf8').includes(marker)) return true;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return false;
}

// Asserts that the scripted resume `tag` was read but its script did not run.
export async function scriptDidNotRun(assert, site, tag) {
  assert.ok(await requested(site, `page-read-${tag}`), 'the HTML resume was shown');
  assert.equal(await requested(site, `script-ran-${tag}`, 500), false, 'the HTML resume ran its script');
}

// The applicants a staff member's day in the console starts with: 30 made up, and one who applied
// twice, filed last.
export const consoleSeed = ['30', '--name', 'Ana Lucía Pérez'];

// A staff member's day in the console, the same in either browser's driver: the table newest
// first, a search, the applicant's two submissions, the export (`exported(page)` clicks its button
// and checks the archive as the driver can get it), the erasure behind its confirmation, and the
// audit log naming both. `shot(page, file)` may take a picture of each page.
export async function staffDay(assert, site, page, exported, shot = async () => {}) {
  const name = consoleSeed[2];
  const go = (action) => Promise.all([page.waitForNavigation(), action]);
  const cells = (selector) => page.$$eval(selector, (es) => es.map((e) => e.textContent.trim()));
  await page.goto(`${site.base}/staff.cgi`);
  const filed = await cells('tbody td:nth-child(3)');
  assert.ok(filed.length > 1 && filed.every((f, i) => i === 0 || filed[i - 1] >= f), 'the table is newest first');
  await shot(page, 'console-table.png');
  await page.type('input[name="q"]', 'lucía pérez');
  await go(page.click('form.search button'));
  assert.deepEqual(await cells('tbody td:first-child'), [name], 'the search finds the applicant');
  await go(page.click('tbody td:first-child a'));
  assert.deepEqual((await cells('h2')), [name]);
  assert.equal((await cells('section.submission')).length, 2, 'both submissions are shown');
  await shot(page, 'console-applicant.png');
  await exported(page);
  await go(page.click('a[href*="view=erase"]'));
  await shot(page, 'console-erase.png');
  await go(page.click('button.danger'));
  assert.deepEqual(await cells('h2'), ['Erased']);
  assert.ok(!fs.existsSync(path.join(site.site, 'people', name)), 'the applicant folder is gone');
  const audit = fs.readFileSync(path.join(site.logDir, 'audit.log'), 'utf8');
  for (const action of ['export', 'erase']) {
    assert.ok(audit.includes(`\t${site.staff.username}\t${action}\tpeople\t${name}\t`), `the audit log names the ${action}`);
  }
  // News mail: the staff member asks for a daily digest (its mail is read from a real mail
  // system by tests/console/news-mail.sh).
  await page.goto(`${site.base}/staff.cgi?view=news`);
  await page.type('input[name="address"]', 'staff@news.test');
  await page.click('input[name="cadence"][value="daily"]');
  await go(page.click('main form button'));
  assert.deepEqual(await cells('h2'), ['Saved'], 'the subscription is saved from the browser');
  const news = JSON.parse(fs.readFileSync(path.join(site.logDir, 'news-subscriptions.json'), 'utf8'));
  assert.deepEqual(news.subscriptions.map((s) => [s.user, s.address, s.cadence]),
    [[site.staff.username, 'staff@news.test', 'daily']], 'the subscription is the signed-in staff member\'s');
}

// The address of an applicant's stored page, for staff (the "Thank You!" page links none).
export function applicantPageUrl(site, name) {
  return `${site.base}/people/${encodeURIComponent(name)}/index.html`;
}

// Runs axe-core on the page shown and prints its violations' counts per impact; asserts that
// none is critical or serious. The same in either browser's driver.
const axeSource = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
export async function checkAccessibility(assert, page, what) {
  await page.evaluate(axeSource);
  const violations = await page.evaluate(async () =>
    (await window.axe.run(document)).violations.map((v) => [v.id, v.impact, v.nodes.length]));
  const counts = { critical: 0, serious: 0, moderate: 0, minor: 0 };
  for (const [, impact, nodes] of violations) counts[impact] += nodes;
  const ids = violations.map(([id, impact, nodes]) => `${id} (${impact}) x${nodes}`).join(', ') || 'none';
  console.log(`axe-core, ${what}: ${counts.critical} critical, ${counts.serious} serious, ` +
    `${counts.moderate} moderate, ${counts.minor} minor: ${ids}`);
  assert.deepEqual(violations.filter(([, impact]) => impact === 'critical' || impact === 'serious'), [],
    `${what}: no critical or serious violation`);
}
