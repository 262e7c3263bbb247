#pragma once

#include <QString>

// The parts of a URL text as the HTTP client and the relocation logic need them. Every
// part is text (the port too: it may be a service name); a part that is absent is empty.
struct ParsedUrl {
    QString scheme;
    QString user;
    QString password;
    QString host;
    QString port;
    QString path;  // from the first "/" of the rest on, query and fragment included
};

// Splits a URL text into its parts. Never fails: any text gives some split, and the
// callers decide what an empty host or path means for them (an IPv6 address in brackets
// that is not well formed gives an empty host).
//   "http://u:p@host:8080/a/b?q"  -> scheme http, user u, password p, host, port 8080, path /a/b?q
//   "http://[2001:db8::1]:8080/x" -> host 2001:db8::1 (without the brackets), port 8080
//   "/dir/file"                   -> scheme http, path /dir/file
//   "page.htm"                    -> host page.htm (a bare name is taken as a host)
//   "//host/path"                 -> host and path, no scheme (a network-path reference)
ParsedUrl ParseURL(const QString& url);

// The scheme a URI text begins with: a letter, then letters, digits, "+", "-" or ".", up
// to a ":" (RFC 3986, 3.1), as in "data:", "mailto:" or "https:"; empty when the text
// begins with none ("page.htm", "../x", "/x", "//host/x", "127.0.0.1:80/x").
QString UriScheme(const QString& text);
