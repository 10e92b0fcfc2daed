// What the browser tests share: a site of their own served by lighttpd over HTTPS (with its test
// staff account and its own certificate authority, which the browsers are made to trust), the
// applicant and the resume they send, and the server's access log as a witness of what a page's
// scripts did.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

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
// `dir` that trusts the site's authority: a Firefox profile, or Chromium's $HOME/.pki/nssdb.
export function startSite(build, prefix) {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  const site = path.join(tmp, 'site');
  const logDir = path.join(tmp, 'log');
  execFileSync(path.join(repo, 'serve/make-site'), [build, site], { stdio: 'inherit' });
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
