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

// The applicants a staff member's day in the console starts with: 30 made up, one who applied
// twice, and names written with accents and in other scripts, filed last.
export const consoleSeed = ['30', '--name', 'Ana Lucía Pérez', '--name', 'Jürgen Müller', '--name', 'Иван Петров',
  '--name', 'Łukasz Nowak', '--name', 'Émilie Dubois', '--name', 'Zoltan Abel'];

// Finding people as they are written: "muller" finds "Müller"; the name sort in the collation's
// order; two rows selected and erased behind one confirmation that lists them.
async function findAndSelect(assert, site, page, go, cells) {
  await page.goto(`${site.base}/staff.cgi?q=muller`);
  assert.deepEqual(await cells('tbody td:nth-child(2)'), ['Jürgen Müller'], '"muller" finds "Müller"');
  await page.goto(`${site.base}/staff.cgi`);
  await go(page.click('th a[href*="sort=name"]'));
  const seeded = consoleSeed.filter((n, i) => i > 0 && n !== '--name');
  const sorted = (await cells('tbody td:nth-child(2)')).filter((n) => seeded.includes(n));
  assert.deepEqual(sorted, ['Ana Lucía Pérez', 'Émilie Dubois', 'Jürgen Müller', 'Łukasz Nowak', 'Zoltan Abel',
    'Иван Петров'], 'names in the collation\'s order');
  const picked = ['Applicant 000003', 'Applicant 000004'];
  // Plain CSS and clicks: either browser's driver.
  for (const name of picked) await page.click(`input[aria-label="Select ${name}"]`);
  await page.$eval('select[name="bulk"]', (select) => { select.value = 'erase'; });
  await go(page.click('form.selection button'));
  assert.deepEqual(await cells('table.selected td:first-child'), picked, 'the confirmation lists the selected');
  await go(page.click('button.danger'));
  assert.deepEqual(await cells('h2'), ['Erased']);
  for (const name of picked) assert.ok(!fs.existsSync(path.join(site.site, 'people', name)), `${name} is erased`);
  await page.goto(`${site.base}/staff.cgi`);
}

// A staff member's day in the console, the same in either browser's driver: the table newest
// first, finding and selecting (findAndSelect), a search, the applicant's two submissions, her
// decision and a note, the table filtered by the decision, the export (`exported(page, reference)`
// types the request reference beside its button, clicks it and checks the archive as the driver can
// get it), the erasure behind its confirmation, and the audit log naming them with their references,
// in the file and in the console. Every console page passes axe-core, at the desk and on a phone
// (`phone(page)` makes the page 390 px wide), where no page scrolls sideways. `shot(page, file)` may
// take a picture of each page; `browser` names the browser in the messages.
export async function staffDay(assert, site, page, exported, { shot = async () => {}, phone, browser }) {
  const name = consoleSeed[2];
  const go = (action) => Promise.all([page.waitForNavigation(), action]);
  const cells = (selector) => page.$$eval(selector, (es) => es.map((e) => e.textContent.trim()));
  const axe = (what) => checkAccessibility(assert, page, `${browser}, ${what}`);
  await page.goto(`${site.base}/staff.cgi`);
  const filed = await cells('tbody td:nth-child(4)');
  assert.ok(filed.length > 1 && filed.every((f, i) => i === 0 || filed[i - 1] >= f), 'the table is newest first');
  await shot(page, 'console-table.png');
  await axe('the applicant table');
  await findAndSelect(assert, site, page, go, cells);
  await page.type('input[name="q"]', 'lucía pérez');
  await go(page.click('form.search button'));
  assert.deepEqual(await cells('tbody td:nth-child(2)'), [name], 'the search finds the applicant');
  await go(page.click('tbody td:nth-child(2) a'));
  assert.deepEqual((await cells('h2')), [name]);
  assert.equal((await cells('section.submission')).length, 2, 'both submissions are shown');
  // Her decision and a note, then the table filtered by that decision.
  await page.$eval('form.decision select', (s) => { s.value = 'rejected'; });
  await go(page.click('form.decision button'));
  assert.deepEqual(await cells('.history strong'), ['rejected'], 'the decision is shown on her page');
  await page.type('form.note textarea', 'Phoned: <b>back in May</b>');
  await go(page.click('form.note button'));
  assert.deepEqual(await cells('ul.notes .note'), ['Phoned: <b>back in May</b>'], 'the note is shown, as text');
  await shot(page, 'console-applicant.png');
  await axe('an applicant');
  const applicantUrl = page.url();
  await page.goto(`${site.base}/staff.cgi`);
  await page.$eval('form.search select', (s) => { s.value = 'rejected'; });
  await go(page.click('form.search button'));
  assert.deepEqual(await cells('tbody td:nth-child(2)'), [name], 'the table filtered by the decision');
  await go(page.click('tbody td:nth-child(2) a'));
  await exported(page, 'DSR-2026-0142');
  await go(page.click('a[href*="view=erase"]'));
  await shot(page, 'console-erase.png');
  await axe('the erase confirmation');
  await page.type('#erase-reference', 'DSR-2026-0143');
  await go(page.click('button.danger'));
  assert.deepEqual(await cells('h2'), ['Erased']);
  assert.ok(!fs.existsSync(path.join(site.site, 'people', name)), 'the applicant folder is gone');
  const audit = fs.readFileSync(path.join(site.logDir, 'audit.log'), 'utf8');
  for (const action of ['decision', 'note', 'export', 'erase']) {
    assert.ok(audit.includes(`\t${site.staff.username}\t${action}\tpeople\t${name}\t`), `the audit log names the ${action}`);
  }
  assert.match(audit, /\texport\tpeople\t[^\t\n]+\t[^\t\n]+\tperson [0-9a-f]{32}\trequest DSR-2026-0142\n/, 'the export line names her and its reference');
  assert.match(audit, /\terase\tpeople\t[^\t\n]+\terased [^\t\n]+\tperson [0-9a-f]{32}\trequest DSR-2026-0143\n/, 'the erasure line names her and its reference');
  await axe('the answer to an erasure');
  // The audit view, filtered by the applicant (her person id) from her link in it.
  await page.goto(`${site.base}/staff.cgi?view=audit`);
  await go(page.click('td[data-label="Applicant"] .muted a'));
  const actions = await cells('tbody td[data-label="Action"]');
  assert.deepEqual(actions, ['erase', 'erase', 'export', 'note', 'decision'], 'the audit view: her lines, newest first');
  assert.deepEqual(await cells('tbody td[data-label="Request"]'), ['DSR-2026-0143', 'DSR-2026-0143', 'DSR-2026-0142', '', '']);
  await axe('the audit log');
  await go(page.click('header a[href*="view=figures"]'));
  await axe('the figures');

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
  await axe('news mail');

  // On a phone: the same pages (another applicant's, she is gone), each as wide as the screen.
  await phone(page);
  const other = new URL(applicantUrl);
  other.searchParams.set('a', 'Applicant 000001');
  other.searchParams.delete('p');
  const erase = new URL(other);
  erase.searchParams.set('view', 'erase');
  for (const [what, url] of [['the applicant table', `${site.base}/staff.cgi`], ['an applicant', other.href],
    ['the erase confirmation', erase.href], ['the figures', `${site.base}/staff.cgi?view=figures`],
    ['the audit log', `${site.base}/staff.cgi?view=audit`],
    ['news mail', `${site.base}/staff.cgi?view=news`]]) {
    await page.goto(url);
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth) <= 390, `${what} fits 390 px`);
    await axe(`${what} at 390 px`);
  }
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
