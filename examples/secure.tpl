Contact form template whose message goes out PGP-encrypted for the key of
root@localhost; otherwise the same as contact.tpl.

Notes may stand anywhere outside the tagged sections. Two slashes start a
comment that runs to the end of the line, the line end included, so never
write two slashes inside a section (a web address in a message, say).

The mails go to the local mail server. The hidden field "to" of
contact.html names who receives the message (sendto); the visitor's own
address gets a short confirmation (respondto), which quotes nothing the
visitor wrote, for the reasons contact.tpl gives. The sender is an address of
the site's own: mail "from" the visitor's domain would fail the receiving
server's DMARC check. The visitor's address goes into Reply-To instead, so
answering the message reaches the visitor.
<SMTPSERVER>127.0.0.1</SMTPSERVER>
<SENDER>webform@localhost</SENDER>
<REPLYTO>$email$</REPLYTO>
<SUBJECT>Contact form: message from $name$</SUBJECT>
<MSGBODY>Name: $name$
E-mail: $email$

$message$
</MSGBODY>
<RSUBJECT>Thank you for your message</RSUBJECT>
<RMSGBODY>Thank you for your message. We will answer you soon.

This address was typed into the contact form of our web site. If that was
not you, please ignore this mail.
</RMSGBODY>

The same abuse controls as contact.tpl; both count submissions in one state
file, so a visitor's submissions to either form count together.
<RECIPIENTS>
root@localhost
</RECIPIENTS>
<RATELIMIT>/var/lib/veltrano/ratelimit 5 3600</RATELIMIT>
<DEBUG>off</DEBUG>

The pages, failure.htm among them, as in contact.tpl.
<ERRMSGFILE>error.htm</ERRMSGFILE>
<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>
<FATALMSGFILE>failure.htm</FATALMSGFILE>

One field entry per line; the first entry starts on the line after the
FORMDATA tag. The fields have the bounds of contact.tpl.
<FORMDATA>
<NAME="name" required REQUIREDERR="Please tell us your name." MAXLEN="100" MAXLENERR="Please keep your name to 100 characters.">
<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid." MAXLEN="254" MAXLENERR="That e-mail address is too long." respondto>
<NAME="message" MAXLEN="10000" MAXLENERR="Please keep your message to 10,000 characters.">
<NAME="to" sendto PGP="root@localhost">
<NAME="website" honeypot>
</FORMDATA>
