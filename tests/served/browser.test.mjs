// End-to-end test in headless Chromium: a person applies through the form served by lighttpd and
// is refused the stored pages; staff, logged in, follows the result pages' links and downloads the
// resume; an HTML resume opened by staff runs no script; the example programs work.
// Usage: node browser.test.mjs BUILDDIR
// With SCREENSHOT_DIR set, the form, the form with a message, the "Thank You!" page, the refusal
// without a login, the list and the applicant page as staff see them and a sandboxed HTML resume
// are saved there as PNG pictures.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { chromium } from 'playwright-core';
import http from 'node:http';
import { execFileSync } from 'node:child_process';
import { applicant, resumeBytes, scriptedResume, startSite, scriptDidNotRun, consoleSeed, staffDay, applicantPageUrl, checkAccessibility } from './site.mjs';

if (!process.argv[2]) throw new Error('usage: node browser.test.mjs BUILDDIR');
const build = path.resolve(process.argv[2]);
const shots = process.env.SCREENSHOT_DIR;

let site = null;
let browser = null;
let context = null; // a visitor's
let staffContext = null; // logged in as staff
let base = '';
let resumeFile = '';

before(async () => {
  site = startSite(build, 'apply-browser-', consoleSeed);
  base = site.base;
  resumeFile = path.join(site.tmp, 'resume.doc');
  fs.writeFileSync(resumeFile, resumeBytes);
  // Debian's Chromium, trusting the site's authority through its NSS database under $HOME.
  const home = path.join(site.tmp, 'home');
  site.trustStore(path.join(home, '.pki/nssdb'));
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    env: { ...process.env, HOME: home },
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  const options = { viewport: { width: 1000, height: 400 }, acceptDownloads: true };
  context = await browser.newContext(options);
  staffContext = await browser.newContext({ ...options, httpCredentials: site.staff });
  if (shots) fs.mkdirSync(shots, { recursive: true });
});

after(async () => {
  if (browser) await browser.close();
  if (site) site.stop();
});

async function newPage() {
  return context.newPage();
}

async function screenshot(page, file) {
  if (shots) await page.screenshot({ path: path.join(shots, file), fullPage: true });
}

// Opens the site's address and fills the form the way a person does; fields left out of
// `values` are not touched.
async function openAndFill(page, values) {
  const response = await page.goto(`${base}/`);
  assert.equal(response.status(), 200);
  assert.match(page.url(), /\/apply\.cgi$/);
  if (values.name !== undefined) await page.fill('input[name="name"]', values.name);
  if (values.mail !== undefined) await page.fill('input[name="mail"]', values.mail);
  if (values.interest !== undefined) await page.fill('textarea[name="interest"]', values.interest);
  if (values.resume) await page.setInputFiles('input[name="resume"]', values.resume);
}

// The status of the page that `navigate` loads when the server asks for a login that this browser
// does not have (Playwright then ends the navigation with an error of its own).
async function refusal(page, navigate) {
  const answer = page.waitForEvent('response', (r) => r.request().isNavigationRequest());
  await navigate().catch((e) => { if (!/ERR_INVALID_AUTH_CREDENTIALS/.test(e.message)) throw e; });
  const status = (await answer).status();
  // The page is then replaced by the browser's own error page, once it has finished navigating.
  for (let tries = 0; ; ++tries) {
    await page.waitForLoadState();
    try {
      await page.content();
      return status;
    } catch (e) {
      if (tries === 50) throw e;
      await page.waitForTimeout(100);
    }
  }
}

async function pressSubmit(page) {
  await Promise.all([page.waitForNavigation(), page.click('input[type="submit"][value="Submit form"]')]);
}

// Submits a form the browser's own checks would hold back, as a browser without them would, so
// that the program's checks answer; first shows that the browser does hold it back, on `field`.
async function pressSubmitPastTheBrowser(page, field) {
  await page.click('input[type="submit"][value="Submit form"]');
  assert.match(page.url(), /\/apply\.cgi$/, 'the browser stays on the form');
  assert.equal(await page.$eval(`[name="${field}"]`, (e) => e.validity.valid), false, `${field} is held back`);
  await page.$eval('form', (form) => { form.noValidate = true; });
  await pressSubmit(page);
}

async function headings(page, tag) {
  return page.$$eval(tag, (elements) => elements.map((e) => e.textContent.trim()));
}

test('the address shows the empty form with its logo', async () => {
  const page = await newPage();
  await openAndFill(page, {});
  assert.equal(await page.title(), 'Vocanta at Brenmoor');
  assert.deepEqual(await headings(page, 'h2'), ['Vocanta at Brenmoor']);
  const logo = await page.$eval('img', (img) => [img.complete, img.naturalWidth, img.naturalHeight]);
  assert.deepEqual(logo, [true, 400, 96], 'the logo is loaded and decoded');
  for (const field of ['name', 'mail']) {
    assert.equal(await page.inputValue(`input[name="${field}"]`), '');
  }
  assert.equal(await page.inputValue('input[name="directory"]'), 'people');
  const accepted = (await page.getAttribute('input[name="resume"]', 'accept')).split(/, */);
  for (const type of ['application/pdf', '.pdf', 'application/vnd.openxmlformats-officedocument.wordprocessingml.document', '.docx', 'application/msword'])
    assert.ok(accepted.includes(type), `the picker offers ${type}`);
  await checkAccessibility(assert, page, 'Chromium, the form');
  await screenshot(page, 'form.png');
  await page.close();
});

test('a missing e-mail is asked for, the other values kept', async () => {
  const page = await newPage();
  await openAndFill(page, { name: applicant.name, interest: applicant.interest, resume: resumeFile });
  await pressSubmitPastTheBrowser(page, 'mail');
  assert.deepEqual(await headings(page, 'h2'), ['Vocanta at Brenmoor', 'Please fill out the email field']);
  await checkAccessibility(assert, page, 'Chromium, the form with a message');
  assert.equal(await page.inputValue('input[name="name"]'), applicant.name);
  assert.equal(await page.inputValue('input[name="mail"]'), '');
  // The page puts a line feed after the text in the text area.
  assert.equal(await page.inputValue('textarea[name="interest"]'), `${applicant.interest}\n`);
  await screenshot(page, 'form-message.png');
  await page.close();
});

test('an interest field left untouched is asked for', async () => {
  const page = await newPage();
  await openAndFill(page, { name: applicant.name, mail: applicant.mail, resume: resumeFile });
  await pressSubmitPastTheBrowser(page, 'interest');
  assert.deepEqual(await headings(page, 'h2'), ['Vocanta at Brenmoor', 'Please fill out the interest field']);
  assert.equal(await page.inputValue('input[name="name"]'), applicant.name);
  assert.equal(await page.inputValue('input[name="mail"]'), applicant.mail);
  await page.close();
});

test('a complete application is filed; its pages and the resume are reached by their links, by staff only', async () => {
  const page = await newPage();
  await openAndFill(page, { ...applicant, resume: resumeFile });
  await pressSubmit(page);
  assert.deepEqual(await headings(page, 'h1'), ['Thank You!']);
  const thanks = await page.textContent('body');
  assert.match(thanks, new RegExp(`Name: ${applicant.name}`));
  assert.match(thanks, new RegExp(`Email: ${applicant.mail}`));
  assert.match(thanks, /What happens next: /);
  assert.deepEqual(await page.$$eval('a', (links) => links.length), 0, 'no link leads the applicant to a login');
  await checkAccessibility(assert, page, 'Chromium, "Thank You!"');
  await screenshot(page, 'thank-you.png');
  const pageUrl = applicantPageUrl(site, applicant.name);

  // The applicant page, by its link: the visitor has no login, and the server shows nothing of it.
  const refused = await newPage();
  assert.equal(await refusal(refused, () => refused.goto(pageUrl)), 401, 'the applicant page without a login');
  assert.ok(!(await refused.content()).includes(applicant.mail), 'the refusal shows nothing of the applicant');
  await refused.close();

  // Staff, logged in, reads it.
  const person = await staffContext.newPage();
  assert.equal((await person.goto(pageUrl)).status(), 200);
  assert.equal(await person.title(), applicant.name);
  assert.deepEqual(await headings(person, 'h1'), [applicant.name]);
  const mailto = await person.getAttribute(`a:has-text("${applicant.mail}")`, 'href');
  assert.equal(mailto, `mailto:${applicant.mail}`);
  const text = await person.innerText('body');
  for (const line of applicant.interest.split('\n')) assert.ok(text.includes(line), `page shows "${line}"`);
  await screenshot(person, 'applicant-page.png');

  // The resume, downloaded by its link: the very bytes of the file sent.
  const [download] = await Promise.all([person.waitForEvent('download'), person.click('text=My resume is here')]);
  const saved = path.join(site.tmp, 'downloaded');
  await download.saveAs(saved);
  assert.equal(download.suggestedFilename(), 'resume.doc');
  assert.ok(fs.readFileSync(saved).equals(resumeBytes),
    'the downloaded resume differs from the file sent');

  // The list: refused to the visitor; staff reaches it and from there the applicant again.
  const listUrl = `${base}/people/index.html`;
  assert.equal(await refusal(page, () => page.goto(listUrl)), 401, 'the list without a login');
  assert.ok(!(await page.content()).includes(applicant.name), 'the refusal shows nothing of the list');
  const staff = await staffContext.newPage();
  await staff.goto(listUrl);
  assert.match(staff.url(), /\/people\/index\.html$/);
  const listed = await staff.$$eval('a', (links) => links.map((a) => a.textContent));
  assert.deepEqual(listed.slice(-1), [applicant.name]);
  await screenshot(staff, 'staff-list.png');
  await Promise.all([staff.waitForNavigation(), staff.click(`a:has-text("${applicant.name}")`)]);
  assert.deepEqual(await headings(staff, 'h1'), [applicant.name]);
  assert.equal(await staff.content(), await person.content(), 'the list leads to the same applicant page');
  await person.close();
  await staff.close();
  await page.close();
});

test('two people with one name: staff reach the earlier submission and its resume from the later page', async () => {
  const marias = [['maria.garcia@example.org', 'Maria_Garcia_CV.pdf'], ['mgarcia.dev@example.com', 'CV-MariaGarcia-Engineer.pdf']];
  const page = await newPage();
  for (const [mail, file] of marias) {
    const cv = path.join(site.tmp, file);
    fs.writeFileSync(cv, `CV of ${mail}\n`);
    await openAndFill(page, { ...applicant, name: 'Maria Garcia', mail, resume: cv });
    await pressSubmit(page);
    assert.deepEqual(await headings(page, 'h1'), ['Thank You!']);
  }
  const pageUrl = applicantPageUrl(site, 'Maria Garcia');
  const staff = await staffContext.newPage();
  await staff.goto(pageUrl);
  assert.ok((await staff.innerText('body')).includes(marias[1][0]));
  const earlier = await staff.$$eval('a', (links) => links.filter((a) => / UTC$/.test(a.textContent)).map((a) => a.href));
  assert.equal(earlier.length, 1, 'one earlier submission is linked');
  await staff.goto(earlier[0]);
  assert.ok((await staff.innerText('body')).includes(marias[0][0]), 'the earlier page keeps the first mail');
  const cvUrl = new URL(await staff.getAttribute('a:has-text("My resume is here")', 'href'), staff.url()).href;
  assert.ok(cvUrl.endsWith(`/${marias[0][1]}`));
  // The link leads to the first CV, kept whole beside the earlier page.
  const stored = path.join(site.site, decodeURIComponent(new URL(cvUrl).pathname));
  assert.equal(fs.readFileSync(stored, 'utf8'), `CV of ${marias[0][0]}\n`);

  // In the console they are two applicants: each export holds only her own data, and erasing
  // the one who filed first leaves the other whole, on the page and in the list.
  const go = (action) => Promise.all([staff.waitForNavigation(), action]);
  await staff.goto(`${site.base}/staff.cgi?q=Maria+Garcia`);
  const rows = await staff.$$eval('tbody tr', (trs) => trs.map((tr) => tr.children[2].textContent));
  assert.deepEqual(rows.sort(), marias.map(([mail]) => mail).sort(), 'two applicants listed');
  await go(staff.click(`tbody tr:has-text("${marias[0][0]}") td:nth-child(2) a`));
  assert.equal((await staff.$$('section.submission')).length, 1, 'her one submission only');
  const [download] = await Promise.all([staff.waitForEvent('download'), staff.click('text=Export all data')]);
  const saved = path.join(site.tmp, 'maria.zip');
  await download.saveAs(saved);
  const zip = fs.readFileSync(saved);
  assert.ok(zip.includes(marias[0][1]) && !zip.includes(marias[1][1]) && !zip.includes(marias[1][0]),
    'the export holds her data and nothing of the other');
  await go(staff.click('a[href*="view=erase"]'));
  await go(staff.click('button.danger'));
  assert.deepEqual(await headings(staff, 'h2'), ['Erased']);
  await staff.goto(pageUrl);
  const left = await staff.innerText('body');
  assert.ok(left.includes(marias[1][0]) && !left.includes(marias[0][0]), 'the page shows the other');
  assert.ok(fs.readFileSync(path.join(site.site, 'people', 'Maria Garcia', marias[1][1]), 'utf8').includes(marias[1][0]));
  assert.ok(!fs.existsSync(stored), 'her CV is gone');
  assert.ok(fs.readFileSync(path.join(site.site, 'people', 'index.html'), 'utf8').includes('Maria%20Garcia'), 'the list line stays');
  await staff.close();
  await page.close();
});

test('an HTML resume opened by staff runs no script', async () => {
  const cv = path.join(site.tmp, 'cv.html');
  fs.writeFileSync(cv, scriptedResume('chromium'));
  const page = await newPage();
  await openAndFill(page, { ...applicant, name: 'Ines Chromium', resume: cv });
  await pressSubmit(page);
  const pageUrl = applicantPageUrl(site, 'Ines Chromium');
  const staff = await staffContext.newPage();
  await staff.goto(pageUrl);
  const [response] = await Promise.all([staff.waitForNavigation(), staff.click('text=My resume is here')]);
  assert.equal(response.status(), 200);
  assert.equal(response.headers()['content-security-policy'], 'sandbox');
  await scriptDidNotRun(assert, site, 'chromium');
  await screenshot(staff, 'sandboxed-resume.png');
  await staff.close();
  await page.close();
});

test('on a phone (390x844, touch) the form fits, reads and taps well; a PDF and a DOCX resume are filed, the name tidied', async () => {
  const phone = await browser.newContext({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, isMobile: true, hasTouch: true });
  const page = await phone.newPage();
  const resumes = [['Anna_Schmidt_CV.pdf', '%PDF-1.7\n% resume\n'], ['Anna_Schmidt_CV.docx', 'PK\x03\x04 resume']];
  for (const [file, content] of resumes) {
    const cv = path.join(site.tmp, file);
    fs.writeFileSync(cv, content);
    await page.goto(`${base}/`);
    const layout = await page.evaluate(() => {
      const shown = [...document.querySelectorAll('body *')].filter((e) => e.getClientRects().length);
      const texts = shown.filter((e) => [...e.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim()) || e.matches('input, textarea'));
      const targets = shown.filter((e) => e.matches('input, textarea, a, label')).map((e) => {
        const r = e.getBoundingClientRect();
        return [e.name || e.textContent.trim(), Math.round(r.width), Math.round(r.height)];
      });
      return {
        width: document.documentElement.scrollWidth,
        smallest: Math.min(...texts.map((e) => parseFloat(getComputedStyle(e).fontSize))),
        small: targets.filter(([, w, h]) => w < 24 || h < 24),
      };
    });
    assert.ok(layout.width <= 390, `no sideways scrolling (${layout.width} px wide)`);
    assert.ok(layout.smallest >= 16, `no text below 16 px (${layout.smallest} px)`);
    assert.deepEqual(layout.small, [], 'every tap target is at least 24x24 px');
    await page.tap('input[name="name"]');
    await page.keyboard.type(' Anna  Schmidt ');
    await page.fill('input[name="mail"]', 'anna.schmidt@example.de');
    await page.fill('textarea[name="interest"]', 'Technical writing');
    await page.setInputFiles('input[name="resume"]', cv);
    await Promise.all([page.waitForNavigation(), page.tap('input[type="submit"]')]);
    assert.deepEqual(await headings(page, 'h1'), ['Thank You!'], file);
    assert.match(await page.textContent('body'), /Name: Anna Schmidt\n/, file);
    assert.equal(fs.readFileSync(path.join(site.site, 'people/Anna Schmidt', file), 'latin1'), content, `${file} is stored`);
  }
  await screenshot(page, 'phone-thank-you.png');
  const list = fs.readFileSync(path.join(site.site, 'people/index.html'), 'utf8');
  assert.equal(list.split('>Anna Schmidt</a>').length - 1, 1, 'one entry for the name');
  await phone.close();
});

test('the GIF example decodes as an image of the text\'s size, drawn in the chosen colour', async () => {
  const page = await newPage();
  await page.goto(`${base}/`);
  for (const text of ['Hi', 'Hello, world', '']) {
    const result = await page.evaluate(async (src) => {
      const img = new Image();
      img.src = src;
      await img.decode();
      const canvas = document.createElement('canvas');
      canvas.width = img.naturalWidth;
      canvas.height = img.naturalHeight;
      const ctx = canvas.getContext('2d');
      ctx.drawImage(img, 0, 0);
      const data = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
      const colours = new Set();
      for (let i = 0; i < data.length; i += 4) colours.add(data.slice(i, i + 4).join(','));
      return { width: img.naturalWidth, height: img.naturalHeight, colours: [...colours].sort() };
    }, `text_gif.cgi?text=${encodeURIComponent(text)}&color=3`);
    assert.equal(result.width, 9 * text.length + 2, `width for "${text}"`);
    assert.equal(result.height, 17, `height for "${text}"`);
    // Transparent background; the glyphs in blue (0, 64, 255), nothing else.
    const expected = text.trim() ? ['0,0,0,0', '0,64,255,255'] : ['0,0,0,0'];
    assert.deepEqual(result.colours, expected, `colours for "${text}"`);
  }
  await page.close();
});

test('the visit counter example counts by its cookie', async () => {
  const page = await newPage();
  for (const n of [1, 2, 3]) {
    await page.goto(`${base}/visits.cgi`);
    assert.match(await page.textContent('body'), new RegExp(`visit number ${n} `));
  }
  await page.close();
});

test('a staff member\'s day in the console: search, open, export, erase', async () => {
  const staff = await staffContext.newPage();
  await staff.setViewportSize({ width: 1280, height: 720 });
  await staffDay(assert, site, staff, async (page, reference) => {
    await page.fill('#export-reference', reference);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('text=Export all data')]);
    const saved = path.join(site.tmp, 'export.zip');
    await download.saveAs(saved);
    const zip = fs.readFileSync(saved);
    assert.equal(zip.subarray(0, 4).toString('latin1'), 'PK\x03\x04', 'the export is a zip archive');
    for (const entry of ['/latest/index.json', '/latest/cv-30.pdf']) assert.ok(zip.includes(entry), `the export holds ${entry}`);
  }, { shot: screenshot, browser: 'Chromium', phone: (page) => page.setViewportSize({ width: 390, height: 844 }) });
  await staff.close();
});

// After the day above (where she subscribed to a daily digest): decisions and notes on two
// applicants, the table filtered by one, three rejected at once from the selection, the retention
// dry run 200 days on naming exactly those three, and the digest of an application filed in the
// browser, as the mail system of tests/console/with-postfix delivers it.
test('a day of decisions: set, noted, filtered, rejected in bulk, due by retention; the news mail', async () => {
  const staff = await staffContext.newPage();
  await staff.setViewportSize({ width: 1280, height: 720 });
  const go = (action) => Promise.all([staff.waitForNavigation(), action]);
  const cells = (selector) => staff.$$eval(selector, (es) => es.map((e) => e.textContent.trim()));
  for (const [name, decision] of [['Applicant 000020', 'interview'], ['Zoltan Abel', 'offer']]) {
    await staff.goto(`${base}/staff.cgi?q=${encodeURIComponent(name)}`);
    await go(staff.click('tbody td:nth-child(2) a'));
    await staff.$eval('form.decision select', (s, d) => { s.value = d; }, decision);
    await go(staff.click('form.decision button'));
    await staff.type('form.note textarea', `Spoke to ${name}`);
    await go(staff.click('form.note button'));
    assert.deepEqual([await cells('.history strong'), await cells('ul.notes .note')], [[decision], [`Spoke to ${name}`]],
      `${name}: the decision and the note`);
  }
  await staff.goto(`${base}/staff.cgi`);
  await staff.$eval('form.search select', (s) => { s.value = 'interview'; });
  await go(staff.click('form.search button'));
  assert.deepEqual(await cells('tbody td:nth-child(2)'), ['Applicant 000020'], 'the table filtered by the decision');

  const rejected = ['Applicant 000010', 'Applicant 000011', 'Applicant 000012'];
  await staff.goto(`${base}/staff.cgi?q=Applicant%2000001&sort=name`);
  for (const name of rejected) await staff.click(`input[aria-label="Select ${name}"]`);
  await staff.$eval('select[name="bulk"]', (s) => { s.value = 'decision:rejected'; });
  await go(staff.click('form.selection button'));
  assert.match(staff.url(), /\?root=people&q=Applicant%2000001&sort=name&/, 'back to the same table');
  assert.deepEqual(await cells('p.notice[role="status"]'), ['Decision “rejected” set for 3 applicants.']);
  await staff.goto(`${base}/staff.cgi?decision=rejected&sort=name`);
  assert.deepEqual(await cells('tbody td:nth-child(2)'), rejected, 'the three are rejected');

  const admin = (words, env) => execFileSync(path.join(build, 'app/admin/apply-admin'), ['--site', site.site, ...words],
    { env: { ...process.env, APPLY_AUDIT_LOG: path.join(site.logDir, 'audit.log'), ...env } }).toString();
  const later = (days) => String(Math.floor(Date.now() / 1000) + days * 86400);
  const due = admin(['retain', '--dry-run'], { APPLY_NOW: later(200), APPLY_RETENTION_CLOSED_DAYS: '180', APPLY_RETENTION_DAYS: '36500' })
    .split('\n').filter((l) => l.startsWith('due\t')).map((l) => l.split('\t')[1]).sort();
  assert.deepEqual(due, rejected, 'due 200 days on: exactly the three rejected');

  const visitor = await newPage();
  await openAndFill(visitor, { name: 'Nadia Quell', mail: 'nadia.quell@example.com', interest: 'Typesetting', resume: resumeFile });
  await pressSubmit(visitor);
  assert.deepEqual(await headings(visitor, 'h1'), ['Thank You!']);
  await visitor.close();
  const maildir = process.env.POSTFIX_MAILDIR;
  if (!maildir) {
    console.log('news mail: skipped, no mail system of the test\'s own (run through tests/console/with-postfix, as root, with postfix installed)');
  } else {
    // A day after she subscribed, the digest is due.
    admin(['news'], { APPLY_NOW: later(1.1), APPLY_CONSOLE_URL: `${base}/staff.cgi` });
    const mailbox = path.join(maildir, 'staff');
    for (let i = 0; i < 100 && !(fs.existsSync(mailbox) && fs.readFileSync(mailbox, 'utf8').includes('\n\n')); ++i)
      await new Promise((resolve) => setTimeout(resolve, 200));
    const mail = fs.existsSync(mailbox) ? fs.readFileSync(mailbox, 'utf8') : '';
    assert.equal(mail.match(/^From /gm)?.length, 1, 'one mail arrived');
    assert.match(mail, /^Subject: Daily digest: 1 new application$/m, 'the digest counts the one filed');
    assert.ok(mail.split('\n').includes(`${base}/staff.cgi`), 'the mail links the console');
    for (const data of ['Nadia', 'Quell', 'nadia.quell', 'example.com', 'Typesetting', 'Applicant 0']) assert.ok(!mail.includes(data), `the mail holds no "${data}"`);
  }
  await staff.close();
});

test('a form posted to the console from another site is refused, even with a valid token', async () => {
  const staff = await staffContext.newPage();
  await staff.goto(`${base}/staff.cgi?view=erase&a=Applicant%20000001`);
  const fields = await staff.$$eval('form input', (inputs) => inputs.map((i) => [i.name, i.value]));
  const hidden = fields.map(([n, v]) => `<input type="hidden" name="${n}" value="${v}">`).join('');
  // Another origin on the same machine: a page that posts the console's own form at once.
  const other = http.createServer((request, response) => response.writeHead(200, { 'Content-Type': 'text/html' }).end(
    `<form method="post" action="${base}/staff.cgi">${hidden}</form><script>document.forms[0].submit()</script>`));
  await new Promise((resolve) => other.listen(0, '127.0.0.1', resolve));
  const [answer] = await Promise.all([
    staff.waitForResponse((r) => r.url().startsWith(`${base}/staff.cgi`) && r.request().method() === 'POST'),
    staff.goto(`http://127.0.0.1:${other.address().port}/`)]);
  assert.equal(answer.status(), 403);
  assert.ok(fs.existsSync(path.join(site.site, 'people', 'Applicant 000001')), 'nothing was erased');
  other.close();
  await staff.close();
});
