// End-to-end test in headless Chromium: a person applies through the form served by lighttpd,
// follows the result pages' links, downloads the resume, and loads the example GIF.
// Usage: node browser.test.mjs BUILDDIR
// With SCREENSHOT_DIR set, the form, the form with a message, the "Thank You!" page and the
// applicant page are saved there as PNG pictures.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');
if (!process.argv[2]) throw new Error('usage: node browser.test.mjs BUILDDIR');
const build = path.resolve(process.argv[2]);
const shots = process.env.SCREENSHOT_DIR;

const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'apply-browser-'));
const site = path.join(tmp, 'site');
let serverPid = null;
let context = null;
let base = '';

// The resume: a binary file that does not begin with NUL or a line feed, with every byte value.
const resumeBytes = Buffer.concat([
  Buffer.from([0xd0, 0xcf, 0x11, 0xe0]),
  Buffer.from(' resume\r\n\r\n--\r\n'),
  Buffer.from(Array.from({ length: 256 }, (_, i) => i)),
  Buffer.from(Array.from({ length: 5000 }, (_, i) => (i * 7919 + 13) & 0xff)),
]);
const resumeFile = path.join(tmp, 'resume.doc');

const applicant = {
  name: 'Mira Ødegård',
  mail: 'mira.odegard@example.com',
  // Characters outside ASCII in the name and the interest, and a line break in the interest, as a
  // person may type them.
  interest: 'Print layout and typesetting,\nespecially façades of old Zürich.',
};

function stopServer() {
  if (serverPid) {
    execFileSync(path.join(repo, 'serve/stop-server'), [String(serverPid)]);
    serverPid = null;
  }
}

function cleanUp() {
  stopServer();
  fs.rmSync(tmp, { recursive: true, force: true });
}
// Also on an interrupt, so that no server outlives the test.
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => { cleanUp(); process.exit(1); });
}

before(async () => {
  fs.writeFileSync(resumeFile, resumeBytes);
  execFileSync(path.join(repo, 'serve/make-site'), [build, site], { stdio: 'inherit' });
  const out = execFileSync(path.join(repo, 'serve/start-test-server'), [site], {
    env: { ...process.env, LOG_DIR: path.join(tmp, 'log'), SERVER_MAX_SECONDS: '900' },
  }).toString().trim();
  const [pid, port] = out.split(/\s+/);
  serverPid = Number(pid);
  base = `http://127.0.0.1:${port}`;
  // Debian's Chromium with a fresh profile folder of its own.
  context = await chromium.launchPersistentContext(path.join(tmp, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
    viewport: { width: 1000, height: 400 },
    acceptDownloads: true,
  });
  if (shots) fs.mkdirSync(shots, { recursive: true });
});

after(async () => {
  if (context) await context.close();
  cleanUp();
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

async function pressSubmit(page) {
  await Promise.all([page.waitForNavigation(), page.click('input[type="submit"][value="Submit form"]')]);
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
  await screenshot(page, 'form.png');
  await page.close();
});

test('a missing e-mail is asked for, the other values kept', async () => {
  const page = await newPage();
  await openAndFill(page, { name: applicant.name, interest: applicant.interest, resume: resumeFile });
  await pressSubmit(page);
  assert.deepEqual(await headings(page, 'h2'), ['Vocanta at Brenmoor', 'Please fill out the email field']);
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
  await pressSubmit(page);
  assert.deepEqual(await headings(page, 'h2'), ['Vocanta at Brenmoor', 'Please fill out the interest field']);
  assert.equal(await page.inputValue('input[name="name"]'), applicant.name);
  assert.equal(await page.inputValue('input[name="mail"]'), applicant.mail);
  await page.close();
});

test('a complete application is filed; its pages and the resume are reached by their links', async () => {
  const page = await newPage();
  await openAndFill(page, { ...applicant, resume: resumeFile });
  await pressSubmit(page);
  assert.deepEqual(await headings(page, 'h1'), ['Thank You!']);
  const thanks = await page.textContent('body');
  assert.match(thanks, new RegExp(`Name: ${applicant.name}`));
  assert.match(thanks, new RegExp(`Email: ${applicant.mail}`));
  await screenshot(page, 'thank-you.png');

  // The applicant page, opened from its link in a tab of its own, as a person who wants to come
  // back to this page would.
  const [person] = await Promise.all([
    page.context().waitForEvent('page'),
    page.click(`text=Web page for ${applicant.name}`, { modifiers: ['Control'] }),
  ]);
  await person.waitForLoadState();
  assert.equal(await person.title(), applicant.name);
  assert.deepEqual(await headings(person, 'h1'), [applicant.name]);
  const mailto = await person.getAttribute(`a:has-text("${applicant.mail}")`, 'href');
  assert.equal(mailto, `mailto:${applicant.mail}`);
  const text = await person.innerText('body');
  for (const line of applicant.interest.split('\n')) assert.ok(text.includes(line), `page shows "${line}"`);
  await screenshot(person, 'applicant-page.png');

  // The resume, downloaded by its link: the very bytes of the file sent.
  const [download] = await Promise.all([person.waitForEvent('download'), person.click('text=My resume is here')]);
  const saved = path.join(tmp, 'downloaded');
  await download.saveAs(saved);
  assert.equal(download.suggestedFilename(), 'resume.doc');
  assert.ok(fs.readFileSync(saved).equals(resumeBytes),
    'the downloaded resume differs from the file sent');

  // The list, from the "Thank You!" page, and from there the applicant again.
  await Promise.all([page.waitForNavigation(), page.click('text=Entire list')]);
  assert.match(page.url(), /\/people\/index\.html$/);
  const listed = await page.$$eval('a', (links) => links.map((a) => a.textContent));
  assert.deepEqual(listed, [applicant.name]);
  await Promise.all([page.waitForNavigation(), page.click(`a:has-text("${applicant.name}")`)]);
  assert.deepEqual(await headings(page, 'h1'), [applicant.name]);
  assert.equal(await page.content(), await person.content(), 'the list leads to the same applicant page');
  await person.close();
  await page.close();
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
