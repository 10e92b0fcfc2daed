#!/usr/bin/perl
# Peer on Perl CGI.pm: does the application's job (store the resume, write the applicant page, add
# a list line, print a short page) with that library parsing the multipart body. CGI.pm spools
# the upload to a temporary file (in TMPDIR); it is moved into the store, not copied again.
use strict;
use warnings;
use CGI qw(escapeHTML escape);
use File::Copy qw(move);
use Fcntl qw(:flock);

my $q = CGI->new;

sub page {
    my ($title, $body) = @_;
    print "Content-type: text/html\n\n<html>\n<head>\n<title>$title</title>\n</head>\n<body>\n$body</body>\n</html>\n";
}

sub safe { my $s = shift; return length($s) && $s ne '.' && $s ne '..' && $s !~ m{[/\\]}; }

my ($name, $mail, $interest) = map { scalar($q->param($_)) // '' } qw(name mail interest);
my $root = scalar($q->param('directory')) || 'people';
my $fh = $q->upload('resume');
if ($name eq '' || $mail eq '' || $interest eq '' || !$fh) {
    page('Application', qq{<form method="post" enctype="multipart/form-data">Please fill out the form</form>\n});
    exit 0;
}
(my $file_name = scalar($q->param('resume'))) =~ s{.*[/\\]}{}s;
if (!safe($name) || !safe($file_name)) {
    page('Application', "Please check the name field\n");
    exit 0;
}
my $dir = "$root/$name";
my $applicant_page = "$dir/index.html";
mkdir $dir;
my $is_new = !-e $applicant_page;
open(my $out, '>', $applicant_page) or do { page('Application', "Can't create '" . escapeHTML($applicant_page) . "'\n"); exit 0 };
print $out "<html>\n<head>\n<title>", escapeHTML($name), "</title>\n</head>\n<body>\n<h1>", escapeHTML($name),
    "</h1>\nEmail: ", escapeHTML($mail), "\n<p>\n", escapeHTML($interest), "\n<a href=\"", escape($file_name),
    "\">My resume is here</a>\n</body>\n</html>\n";
close($out) or do { page('Application', "Can't create '" . escapeHTML($applicant_page) . "'\n"); exit 0 };
if ($is_new) {
    open(my $list, '>>', "$root/index.html") or die;
    flock($list, LOCK_EX);
    print $list '<br><a href="', escape($name), '">', escapeHTML($name), "</a>\n";
    close($list);
}
my $resume_path = "$dir/$file_name";
my $spool = $q->tmpFileName($fh);
close($fh);
move($spool, $resume_path)
    or do { page('Application', "Can't create '" . escapeHTML($resume_path) . "'\n"); exit 0 };
page('Thank You!', "<h1>Thank You!</h1>\nName: " . escapeHTML($name) . "\n<br>\nEmail: " . escapeHTML($mail) . "\n");
