Contact form template for contact.html.

Notes may stand anywhere outside the tagged sections. Two slashes start a
comment that runs to the end of the line, the line end included, so never
write two slashes inside a section (a web address in a message, say).

The mails go to the local mail server. The hidden field "to" of
contact.html names who receives the message (sendto); the visitor's own
address gets a short confirmation (respondto). The confirmation goes to
whatever address the visitor typed, so it quotes nothing the visitor wrote
but the name: otherwise anyone could send their own text from this site to
any address. The sender is an address of the site's own: mail "from" the
visitor's domain would fail the receiving server's DMARC check. The
visitor's address goes into Reply-To instead, so answering the message
reaches the visitor.
<SMTPSERVER>127.0.0.1</SMTPSERVER>
<SENDER>webform@localhost</SENDER>
<REPLYTO>$email$</REPLYTO>
<SUBJECT>Contact form: message from $name$</SUBJECT>
<MSGBODY>Name: $name$
E-mail: $email$

$message$
</MSGBODY>
<RSUBJECT>Thank you, $name$</RSUBJECT>
<RMSGBODY>Thank you for your message. We will answer you soon.
</RMSGBODY>

Every accepted submission is also recorded as one line of a data file. It
lies outside the site directory on purpose: a visitor can name any file
below the site directory as a template, so a file holding visitors' text
must never be there (template names cannot be absolute paths).
<DFILE APPEND>/var/lib/veltrano/contact.csv</DFILE>
<DFILEFORMAT>$systemdate$ $systemtime$,"$name$","$email$"</DFILEFORMAT>

Abuse controls. The hidden field "to" may only name an address listed in
RECIPIENTS, so the form cannot carry mail to anyone else. The field
"website" is a honeypot: the page's style sheet hides it from people, so
only robots fill it in, and their submissions are dropped without a word.
RATELIMIT accepts at most 5 submissions an hour from one visitor address,
counted in a state file beside the data file. DEBUG off keeps visitors from
reading the SMTP conversation, and DFILEGUARD keeps a value starting with
= + - or @ from running as a formula when the data file is opened in a
spreadsheet.
<RECIPIENTS>
root@localhost
</RECIPIENTS>
<RATELIMIT>/var/lib/veltrano/ratelimit 5 3600</RATELIMIT>
<DEBUG>off</DEBUG>
<DFILEGUARD>on</DFILEGUARD>

<ERRMSGFILE>error.htm</ERRMSGFILE>
<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>

One field entry per line; the first entry starts on the line after the
FORMDATA tag.
<FORMDATA>
<NAME="name" required REQUIREDERR="Please tell us your name.">
<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid." respondto>
<NAME="message">
<NAME="to" sendto>
<NAME="website" honeypot>
</FORMDATA>
