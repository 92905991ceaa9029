// Which file of the console's compiled-in set a request path names. Only
// plain names pass ("/", "/app.js", "/img/logo.svg"); anything encoded,
// dotted upward, doubled or odd is no file, whatever the set holds.
#pragma once

#include <string>

namespace orn {

// The name inside the set ("index.html" for "/"), or false.
bool StaticName(const std::string& rawPath, std::string* name);
// Files a browser needs before it has logged in: the login page and what
// pages are made of (style, script, images); other pages need the session.
bool StaticIsPublic(const std::string& name);
// The Content-Type for a name.
std::string StaticType(const std::string& name);

}  // namespace orn
