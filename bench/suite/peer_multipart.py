#!/usr/bin/python3
# Peer on python-multipart: does the application's job (store the resume, write the applicant
# page, add a list line, print a short page) with that library parsing the multipart body. Uploads
# above the library's in-memory limit are spooled to a file in TMPDIR, which is moved into the
# store, not copied again.
import fcntl
import html
import os
import sys
import tempfile
import urllib.parse

import multipart


def page(title, body):
    sys.stdout.write('Content-type: text/html\n\n<html>\n<head>\n<title>%s</title>\n</head>\n<body>\n%s</body>\n</html>\n'
                     % (title, body))


def safe(s):
    return s not in ('', '.', '..') and '/' not in s and '\\' not in s


def main():
    fields, files = {}, {}
    if os.environ.get('REQUEST_METHOD') == 'POST':
        headers = {'Content-Type': os.environ.get('CONTENT_TYPE', '')}
        config = {'UPLOAD_DIR': tempfile.gettempdir(), 'UPLOAD_DELETE_TMP': False}
        parser = multipart.create_form_parser(
            headers, lambda f: fields.__setitem__(f.field_name.decode(), (f.value or b'').decode('utf-8', 'replace')),
            lambda f: files.__setitem__(f.field_name.decode(), f), config=config)
        left = int(os.environ.get('CONTENT_LENGTH', '0'))
        stdin = sys.stdin.buffer
        while left > 0:
            chunk = stdin.read(min(left, 1048576))
            if not chunk:
                break
            parser.write(chunk)
            left -= len(chunk)
        parser.finalize()
    name, mail, interest = (fields.get(k, '') for k in ('name', 'mail', 'interest'))
    root = fields.get('directory') or 'people'
    upload = files.get('resume')
    if not name or not mail or not interest or upload is None:
        page('Application', '<form method="post" enctype="multipart/form-data">Please fill out the form</form>\n')
        return
    file_name = upload.file_name.decode('utf-8', 'replace').replace('\\', '/').rsplit('/', 1)[-1]
    if not safe(name) or not safe(file_name):
        page('Application', 'Please check the name field\n')
        return
    directory = root + '/' + name
    applicant_page = directory + '/index.html'
    try:
        os.mkdir(directory)
    except OSError:
        pass
    is_new = not os.path.exists(applicant_page)
    try:
        with open(applicant_page, 'w') as out:
            out.write('<html>\n<head>\n<title>%s</title>\n</head>\n<body>\n<h1>%s</h1>\nEmail: %s\n<p>\n%s\n'
                      '<a href="%s">My resume is here</a>\n</body>\n</html>\n'
                      % (html.escape(name), html.escape(name), html.escape(mail), html.escape(interest),
                         urllib.parse.quote(file_name)))
    except OSError:
        page('Application', "Can't create '%s'\n" % html.escape(applicant_page))
        return
    if is_new:
        with open(root + '/index.html', 'a') as lst:
            fcntl.lockf(lst, fcntl.LOCK_EX)
            lst.write('<br><a href="%s">%s</a>\n' % (urllib.parse.quote(name), html.escape(name)))
    resume_path = directory + '/' + file_name
    try:
        if upload.in_memory:
            with open(resume_path, 'wb') as out:
                out.write(upload.file_object.getvalue())
        else:
            upload.file_object.close()
            os.replace(upload.actual_file_name, resume_path)
    except OSError:
        page('Application', "Can't create '%s'\n" % html.escape(resume_path))
        return
    page('Thank You!', '<h1>Thank You!</h1>\nName: %s\n<br>\nEmail: %s\n' % (html.escape(name), html.escape(mail)))


main()
