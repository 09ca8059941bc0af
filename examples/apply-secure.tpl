Job application template whose mail goes out encrypted for the key of
root@localhost, as PGP/MIME, the files inside the encryption; otherwise
like apply.tpl. Point the form's action at it: apply.html with
veltrano2.exe?apply-secure.tpl.

Notes may stand anywhere outside the tagged sections. Two slashes start a
comment that runs to the end of the line, the line end included, so never
write two slashes inside a section (a web address in a message, say).

Only the body and the files are encrypted. The subject and the other
header lines (From, To, Reply-To, Date) travel in plain, so they carry
nothing the applicant wrote: a fixed subject, and no Reply-To (the
applicant's address stands in the encrypted text instead). The
confirmation to the applicant goes out in plain, without files, and
quotes nothing.
<SMTPSERVER>127.0.0.1</SMTPSERVER>
<SENDER>webform@localhost</SENDER>
<SUBJECT>Job application</SUBJECT>
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

PGPMIME on makes every encrypted mail PGP/MIME (RFC 3156), which today's
mail programs decrypt and show with its attachments. A mail with files is
PGP/MIME even without it, since a plain armoured body can't carry them.
The sizes are those of apply.tpl; encryption adds little.
<PGPMIME>on</PGPMIME>
<MAXUPLOAD>5242880</MAXUPLOAD>

The same abuse controls as apply.tpl.
<RECIPIENTS>
root@localhost
</RECIPIENTS>
<RATELIMIT>/var/lib/veltrano/ratelimit 5 3600</RATELIMIT>
<DEBUG>off</DEBUG>

<ERRMSGFILE>error.htm</ERRMSGFILE>
<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>
<FATALMSGFILE>failure.htm</FATALMSGFILE>

One field entry per line; the first entry starts on the line after the
FORMDATA tag. The fields are those of apply.tpl; the mail to "to" is
encrypted for the key its PGP attribute names.
<FORMDATA>
<NAME="name" required REQUIREDERR="Please tell us your name." MAXLEN="100" MAXLENERR="Please keep your name to 100 characters.">
<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid." MAXLEN="254" MAXLENERR="That e-mail address is too long." respondto>
<NAME="position" MAXLEN="200" MAXLENERR="Please keep the position to 200 characters.">
<NAME="letter" MAXLEN="10000" MAXLENERR="Please keep your letter to 10,000 characters.">
<NAME="cv" required REQUIREDERR="Please choose your CV." ATTACH="pdf docx" ATTACHERR="Your CV must be a PDF or Word (.docx) file.">
<NAME="photo" ATTACH="jpg jpeg png" ATTACHERR="A photo must be a JPEG or PNG file.">
<NAME="to" sendto PGP="root@localhost">
<NAME="website" honeypot>
</FORMDATA>
