Contact form template for fetch.html, a page of a static site on another
origin than the form mailer, which posts the form with fetch() and shows
the answer itself.

Notes may stand anywhere outside the tagged sections. Two slashes start a
comment that runs to the end of the line, the line end included, except in
the ALLOWORIGIN and SUCCEEDURL sections, where web addresses are written
as they are.

The mails are those of contact.tpl: the message to the address in the
hidden field "to", a short confirmation to the visitor's address that
quotes nothing the visitor wrote.
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

The abuse controls of contact.tpl; the two forms count together against
one rate limit.
<RECIPIENTS>
root@localhost
</RECIPIENTS>
<RATELIMIT>/var/lib/veltrano/ratelimit 5 3600</RATELIMIT>
<DEBUG>off</DEBUG>

The page on www.example.org may post here and read the answers: its origin
(scheme, host and port, no path) is listed in ALLOWORIGIN. Its script asks
for JSON (Accept: application/json) and gets field errors as a list it
shows next to the fields, and on success the address of the site's own
thank-you page, SUCCEEDURL, to go to. Without JavaScript the browser posts
the form itself: it is sent on to that page with 303 See Other (reloading
the thank-you page sends nothing again), and shows error.htm for fields
that failed their checks and failure.htm for anything else. SUCCEEDURL
takes the place of a success page, so there is none.
<ALLOWORIGIN>https://www.example.org</ALLOWORIGIN>
<SUCCEEDURL>https://www.example.org/thanks.html</SUCCEEDURL>
<ERRMSGFILE>error.htm</ERRMSGFILE>
<FATALMSGFILE>failure.htm</FATALMSGFILE>

The fields of contact.tpl.
<FORMDATA>
<NAME="name" required REQUIREDERR="Please tell us your name." MAXLEN="100" MAXLENERR="Please keep your name to 100 characters.">
<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid." MAXLEN="254" MAXLENERR="That e-mail address is too long." respondto>
<NAME="message" MAXLEN="10000" MAXLENERR="Please keep your message to 10,000 characters.">
<NAME="to" sendto>
<NAME="website" honeypot>
</FORMDATA>
