// Peer on busboy (node): does the application's job (store the resume, write the applicant page,
// add a list line, print a short page) with that library parsing the multipart body. The upload is
// streamed to a temporary file in TMPDIR (its store is only known from a later field), then moved.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const busboy = require('busboy');

function page(title, body) {
  process.stdout.write(`Content-type: text/html\n\n<html>\n<head>\n<title>${title}</title>\n</head>\n<body>\n${body}</body>\n</html>\n`);
}

const html = (s) => s.replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
const safe = (s) => s !== '' && s !== '.' && s !== '..' && !/[/\\]/.test(s);

function store(fields, upload) {
  const name = fields.name || '', mail = fields.mail || '', interest = fields.interest || '';
  const root = fields.directory || 'people';
  if (!name || !mail || !interest || !upload) {
    page('Application', '<form method="post" enctype="multipart/form-data">Please fill out the form</form>\n');
    return;
  }
  const fileName = upload.fileName.replace(/^.*[/\\]/, '');
  if (!safe(name) || !safe(fileName)) {
    page('Application', 'Please check the name field\n');
    return;
  }
  const dir = `${root}/${name}`, applicantPage = `${dir}/index.html`;
  try { fs.mkdirSync(dir); } catch (e) { /* exists */ }
  const isNew = !fs.existsSync(applicantPage);
  try {
    fs.writeFileSync(applicantPage, `<html>\n<head>\n<title>${html(name)}</title>\n</head>\n<body>\n<h1>${html(name)}</h1>\n` +
      `Email: ${html(mail)}\n<p>\n${html(interest)}\n<a href="${encodeURIComponent(fileName)}">My resume is here</a>\n</body>\n</html>\n`);
  } catch (e) {
    page('Application', `Can't create '${html(applicantPage)}'\n`);
    return;
  }
  if (isNew) fs.appendFileSync(`${root}/index.html`, `<br><a href="${encodeURIComponent(name)}">${html(name)}</a>\n`);
  const resumePath = `${dir}/${fileName}`;
  try {
    fs.renameSync(upload.tmp, resumePath);
  } catch (e) {
    page('Application', `Can't create '${html(resumePath)}'\n`);
    return;
  }
  page('Thank You!', `<h1>Thank You!</h1>\nName: ${html(name)}\n<br>\nEmail: ${html(mail)}\n`);
}

if (process.env.REQUEST_METHOD !== 'POST') {
  store({}, null);
} else {
  const fields = {};
  let upload = null, pending = 1;
  const done = () => { if (--pending === 0) store(fields, upload); };
  const bb = busboy({ headers: { 'content-type': process.env.CONTENT_TYPE, 'content-length': process.env.CONTENT_LENGTH } });
  bb.on('field', (name, value) => { fields[name] = value; });
  bb.on('file', (name, stream, info) => {
    if (name !== 'resume' || upload) { stream.resume(); return; }
    upload = { fileName: info.filename || '', tmp: path.join(os.tmpdir(), `upload-${process.pid}`) };
    pending++;
    stream.pipe(fs.createWriteStream(upload.tmp)).on('close', done);
  });
  bb.on('close', done);
  process.stdin.pipe(bb);
}
