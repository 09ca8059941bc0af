// Runs the built veltrano2.exe the way a web server runs a CGI program: from
// a site directory of its own, with argv[0] as the server sets it, a CGI
// environment and nothing else, the form body on standard input, and from a
// current directory that is not the program's.
#pragma once

#include <map>
#include <string>

namespace veltrano::testing {

// A fresh temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `content` (bytes as given) to `relative`, making directories.
  void Write(const std::string& relative, const std::string& content) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

 private:
  std::string path_;
};

// A site: a directory holding a copy of veltrano2.exe and the files a test
// puts there (templates, pages, veltrano.cfg, ...).
class Site : public TempDir {
 public:
  Site();
  std::string programPath() const { return path() + "/veltrano2.exe"; }
};

// How a fatal page starts under a server other than IIS: without a status
// when the visitor caused it, with 500 for a fault the administrator must
// fix, with 503 when the mail server did not serve.
inline const std::string kPlain = "Content-type: text/html\r\n\r\n<HTML>\r\n";
inline const std::string kPlain500 = "Status: 500 Internal Server Error\r\n" + kPlain;
inline const std::string kPlain503 = "Status: 503 Service Unavailable\r\n" + kPlain;

struct CgiRequest {
  std::string argv0;                       // empty: the program's full path
  std::map<std::string, std::string> env;  // the whole environment but PATH
  std::string body;                        // standard input
  std::string workingDirectory;            // empty: a fresh directory elsewhere
  int timeoutSeconds = 60;
  bool bodyThroughPipe = false;  // as a web server gives it, not as a file
};

struct CgiResult {
  std::string output;              // standard output, byte for byte
  std::string errors;              // standard error
  int exitStatus = -1;             // -1 when it did not exit normally
  int pid = -1;                    // the program's process id
  std::size_t bodyBytesTaken = 0;  // with bodyThroughPipe: how much of the body it read
};

// A POST request for `query` with `body` and the usual CGI variables.
CgiRequest PostRequest(const std::string& query, const std::string& body);

CgiResult RunCgi(const Site& site, const CgiRequest& request);

// The path of the built program and of the source tree.
std::string ProgramUnderTest();
std::string SourceDir();

}  // namespace veltrano::testing
