// End-to-end test in headless Firefox (Debian's firefox-esr over WebDriver BiDi): a visitor
// applies through the form and is refused the stored pages; staff logs in and reads them, the
// resume byte for byte; an HTML resume opened by staff runs no script.
// Usage: node firefox.test.mjs BUILDDIR
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { applicant, resumeBytes, scriptedResume, startSite, scriptDidNotRun, consoleSeed, staffDay, applicantPageUrl, checkAccessibility } from './site.mjs';

if (!process.argv[2]) throw new Error('usage: node firefox.test.mjs BUILDDIR');
const build = path.resolve(process.argv[2]);

let site = null;
let browser = null;

before(async () => {
  site = startSite(build, 'apply-firefox-', consoleSeed);
  fs.writeFileSync(path.join(site.tmp, 'resume.doc'), resumeBytes);
  fs.writeFileSync(path.join(site.tmp, 'cv.html'), scriptedResume('firefox'));
  browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    headless: true,
    // A profile whose certificate database trusts the site's authority.
    userDataDir: site.trustStore(path.join(site.tmp, 'profile')),
    // Nothing but this site: no updates, no telemetry, no safe-browsing or connectivity checks.
    extraPrefsFirefox: {
      'app.update.enabled': false,
      'browser.safebrowsing.malware.enabled': false,
      'browser.safebrowsing.phishing.enabled': false,
      'datareporting.policy.dataSubmissionEnabled': false,
      'network.captive-portal-service.enabled': false,
      'network.connectivity-service.enabled': false,
      'network.dns.disablePrefetch': true,
      'toolkit.telemetry.enabled': false,
      // The console's export is saved without asking, into the test's own folder.
      'browser.download.folderList': 2,
      'browser.download.dir': path.join(site.tmp, 'downloads'),
      'browser.helperApps.neverAsk.saveToDisk': 'application/zip',
    },
  });
});

after(async () => {
  if (browser) await browser.close();
  if (site) site.stop();
});

// A page in a private context of its own. A visitor has no account: the server's request for a
// login is answered once with a name it does not know and then refused, as a person dismissing the
// login dialog would.
async function pageAs(who) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  await page.authenticate(who === 'staff' ? site.staff : { username: 'visitor', password: 'none' });
  return page;
}

async function texts(page, selector) {
  return page.$$eval(selector, (elements) => elements.map((e) => e.textContent.trim()));
}

// Types a field's text anew, as a person would (a locator's fill() never finds the field
// ready in Firefox 140 ESR).
async function fillIn(page, selector, text) {
  await page.$eval(selector, (field) => { field.value = ''; });
  await page.type(selector, text);
}

// Fills the form and submits it (with `check`, runs axe-core on the form, on the form again
// after a missing interest, and on "Thank You!"); answers the applicant page's and the list's
// addresses, which "Thank You!" does not link.
async function apply(page, values, check = false) {
  await page.goto(`${site.base}/`);
  assert.match(page.url(), /\/apply\.cgi$/);
  if (check) await checkAccessibility(assert, page, 'Firefox, the form');
  const submit = () => Promise.all([page.waitForNavigation(), page.click('input[type="submit"][value="Submit form"]')]);
  if (check) {
    await page.$eval('form', (form) => { form.noValidate = true; });
    await fillIn(page, 'input[name="name"]', values.name);
    await submit();
    await checkAccessibility(assert, page, 'Firefox, the form with a message');
  }
  await fillIn(page, 'input[name="name"]', values.name);
  await fillIn(page, 'input[name="mail"]', values.mail);
  await fillIn(page, 'textarea[name="interest"]', values.interest);
  const file = await page.$('input[name="resume"]');
  await file.uploadFile(values.resume);
  await submit();
  assert.deepEqual(await texts(page, 'h1'), ['Thank You!']);
  assert.equal((await texts(page, 'a')).length, 0, 'no link leads the applicant to a login');
  if (check) await checkAccessibility(assert, page, 'Firefox, "Thank You!"');
  return { page: applicantPageUrl(site, values.name), list: `${site.base}/people/index.html` };
}

test('a visitor applies and is refused the stored pages; staff reads them and the resume', async () => {
  const visitor = await pageAs('visitor');
  const links = await apply(visitor, { ...applicant, resume: path.join(site.tmp, 'resume.doc') }, true);
  const body = await visitor.$eval('body', (b) => b.innerText);
  assert.match(body, new RegExp(`Name: ${applicant.name}`));
  assert.match(body, new RegExp(`Email: ${applicant.mail}`));
  const { page: pageUrl, list: listUrl } = links;
  for (const url of [pageUrl, listUrl]) {
    const response = await visitor.goto(url);
    assert.equal(response.status(), 401, `${url} without a login`);
    assert.ok(!(await visitor.content()).includes(applicant.mail), `${url} shows nothing of the applicant`);
  }

  const staff = await pageAs('staff');
  assert.equal((await staff.goto(listUrl)).status(), 200);
  assert.deepEqual((await texts(staff, 'a')).slice(-1), [applicant.name]);
  await Promise.all([staff.waitForNavigation(), staff.click('a:last-of-type')]);
  assert.equal(new URL('index.html', staff.url()).href, pageUrl, 'the list leads to the applicant page');
  assert.deepEqual(await texts(staff, 'h1'), [applicant.name]);
  const mailto = await staff.$eval('a[href^="mailto:"]', (a) => a.getAttribute('href'));
  assert.equal(mailto, `mailto:${applicant.mail}`);
  const text = await staff.$eval('body', (b) => b.innerText);
  for (const line of applicant.interest.split('\n')) assert.ok(text.includes(line), `page shows "${line}"`);
  // The resume by its link, read as the browser receives it: from a page of the site without the
  // stored pages' content policy, which lets no script fetch anything.
  const resumeUrl = await staff.$eval('a[href$=".doc"]', (a) => a.href);
  await staff.goto(`${site.base}/logo.jpg`);
  const received = await staff.evaluate(async (url) => {
    const response = await fetch(url);
    return [response.status, Array.from(new Uint8Array(await response.arrayBuffer()))];
  }, resumeUrl);
  assert.equal(received[0], 200);
  assert.ok(Buffer.from(received[1]).equals(resumeBytes), 'the resume staff reads differs from the file sent');
});

test('an HTML resume opened by staff runs no script', async () => {
  const visitor = await pageAs('visitor');
  const links = await apply(visitor, { ...applicant, name: 'Ines Firefox', resume: path.join(site.tmp, 'cv.html') });
  const staff = await pageAs('staff');
  await staff.goto(links.page);
  const [response] = await Promise.all([staff.waitForNavigation(), staff.click('a[href$="cv.html"]')]);
  assert.equal(response.status(), 200);
  assert.equal(response.headers()['content-security-policy'], 'sandbox');
  await scriptDidNotRun(assert, site, 'firefox');
});

test('a staff member\'s day in the console: search, open, export, erase', async () => {
  const staff = await pageAs('staff');
  await staffDay(assert, site, staff, async (page, reference) => {
    // In a page of its own: after a download, Firefox's driver waits for the page's next
    // navigation in vain.
    const other = await pageAs('staff');
    await other.goto(page.url());
    await other.type('#export-reference', reference);
    await other.click('form button');
    const folder = path.join(site.tmp, 'downloads');
    let saved = [];
    for (let i = 0; i < 100 && !saved.length; i++) {
      await new Promise((resolve) => setTimeout(resolve, 100));
      saved = fs.existsSync(folder) ? fs.readdirSync(folder).filter((f) => f.endsWith('.zip')) : [];
    }
    assert.equal(saved.length, 1, 'the export was saved');
    await other.close();
    const zip = fs.readFileSync(path.join(folder, saved[0]));
    assert.equal(zip.subarray(0, 4).toString('latin1'), 'PK\x03\x04', 'the export is a zip archive');
  }, { browser: 'Firefox', phone: (page) => page.setViewport({ width: 390, height: 844 }) });
});
