Contact form template for contact.html.

Notes may stand anywhere outside the tagged sections. Two slashes start a
comment that runs to the end of the line, the line end included, so never
write two slashes inside a section (a web address in a message, say).

The mails go to the local mail server. The hidden field "to" of
contact.html names who receives the message (sendto); the visitor's own
address gets a short confirmation (respondto). The sender is an address of
the site's own: mail "from" the visitor's domain would fail the receiving
server's DMARC check. The visitor's address goes into Reply-To instead, so
answering the message reaches the visitor.

The confirmation goes to whatever address was typed into the form, and
nobody has checked that it is the visitor's. So it quotes nothing the
visitor wrote, not even the name: otherwise anyone could send their own
words from this site to any address, and the site would be the one
blamed for them.
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

The pages: error.htm lists the fields that failed their checks, success.htm
thanks the visitor, and failure.htm stands in for Veltrano's own pages
whenever anything else goes wrong (the mail server is down, a page is
missing, too many submissions). It shows the failure's title but not its
message, which for a mail server's refusal holds that server's replies.
<ERRMSGFILE>error.htm</ERRMSGFILE>
<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>
<FATALMSGFILE>failure.htm</FATALMSGFILE>

One field entry per line; the first entry starts on the line after the
FORMDATA tag. Every field a person fills in has a length bound (MAXLEN, in
characters): 100 for the name, 254 for an e-mail address (the longest one
mail can carry), 10000 for the message, so that the main mail of a message
in English stays within the 15359 characters an expanded text may have,
counted in bytes (text in other scripts takes two to four bytes a
character and meets that limit sooner). A line break in the message counts
two characters. The hidden field "to" needs no bound, since RECIPIENTS
allows only the addresses listed there; the honeypot gets none either, so
that a robot filling it in gets no error page telling it which field is
the trap.
<FORMDATA>
<NAME="name" required REQUIREDERR="Please tell us your name." MAXLEN="100" MAXLENERR="Please keep your name to 100 characters.">
<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid." MAXLEN="254" MAXLENERR="That e-mail address is too long." respondto>
<NAME="message" MAXLEN="10000" MAXLENERR="Please keep your message to 10,000 characters.">
<NAME="to" sendto>
<NAME="website" honeypot>
</FORMDATA>
