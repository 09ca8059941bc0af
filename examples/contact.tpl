Contact form template for contact.html.

Notes may stand anywhere outside the tagged sections. Two slashes start a
comment that runs to the end of the line, the line end included, so never
write two slashes inside a section (a web address in a message, say).

<ERRMSGFILE>error.htm</ERRMSGFILE>
<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>

One field entry per line; the first entry starts on the line after the
FORMDATA tag.
<FORMDATA>
<NAME="name" required REQUIREDERR="Please tell us your name.">
<NAME="email" required REQUIREDERR="Please give your e-mail address." TYPE="EMAIL" TYPEERR="That e-mail address is not valid." respondto>
<NAME="message">
</FORMDATA>
