Job application template for apply.html: the applicant's details and
covering letter, a CV (PDF or Word, required) and a photo (optional), the
files attached to the mail.

Notes may stand anywhere outside the tagged sections. Two slashes start a
comment that runs to the end of the line, the line end included, so never
write two slashes inside a section (a web address in a message, say).

The application goes to the hidden field "to" of apply.html (sendto),
with the files attached. The applicant's own address gets a short
confirmation (respondto) that quotes nothing the applicant wrote and never
carries a file, for the reasons contact.tpl gives. The sender is an
address of the site's own; the applicant's address goes into Reply-To.
<SMTPSERVER>127.0.0.1</SMTPSERVER>
<SENDER>webform@localhost</SENDER>
<REPLYTO>$email$</REPLYTO>
<SUBJECT>Application from $name$: $position$</SUBJECT>
<MSGBODY>Name: $name$
E-mail: $email$
Position: $position$
CV: $cv$
Photo: $photo$

$letter$
</MSGBODY>
<RSUBJECT>Thank you for your application</RSUBJECT>
<RMSGBODY>Thank you for your application. We will be in touch.

This address was typed into the application form of our web site. If that
was not you, please ignore this mail.
</RMSGBODY>

Sizes, end to end: MAXUPLOAD is the most the files of one application may
hold together, in bytes (5 MiB, the default, written out here). The web
server must let a body of MAXUPLOAD and 1 MiB more through (Apache does
without a limit; nginx needs client_max_body_size 6m), and the mail server
must take the mail: base64 makes the files a third larger, so 5 MiB of
files make a mail of about 7 MB, within Postfix's default
message_size_limit of 10240000 bytes.
<MAXUPLOAD>5242880</MAXUPLOAD>

The abuse controls of contact.tpl, counted in the same state file.
<RECIPIENTS>
root@localhost
</RECIPIENTS>
<RATELIMIT>/var/lib/veltrano/ratelimit 5 3600</RATELIMIT>
<DEBUG>off</DEBUG>

<ERRMSGFILE>error.htm</ERRMSGFILE>
<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>
<FATALMSGFILE>failure.htm</FATALMSGFILE>

One field entry per line; the first entry starts on the line after the
FORMDATA tag. The text fields have the bounds of contact.tpl. ATTACH names
the types a file field takes; a file of another type, or one whose first
bytes are not of its type (a program renamed cv.pdf), gets the ATTACHERR
line on the error page. The CV is required: an application without one,
or with an empty file, gets the REQUIREDERR line.
<FORMDATA>
<NAME="name" required REQUIREDERR="Please tell us your name." MAXLEN="100" MAXLENERR="Please keep your name to 100 characters.">
<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid." MAXLEN="254" MAXLENERR="That e-mail address is too long." respondto>
<NAME="position" MAXLEN="200" MAXLENERR="Please keep the position to 200 characters.">
<NAME="letter" MAXLEN="10000" MAXLENERR="Please keep your letter to 10,000 characters.">
<NAME="cv" required REQUIREDERR="Please choose your CV." ATTACH="pdf docx" ATTACHERR="Your CV must be a PDF or Word (.docx) file.">
<NAME="photo" ATTACH="jpg jpeg png" ATTACHERR="A photo must be a JPEG or PNG file.">
<NAME="to" sendto>
<NAME="website" honeypot>
</FORMDATA>
