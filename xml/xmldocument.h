// The lenient XML reader: one left-to-right pass over an 8-bit buffer into a
// tree of XMLNode objects. It recognises a small set of constructs, skips the
// rest, and knows exactly two errors ("bad tagName", "tagName mismatch").
//
// The reader works on NUL-terminated text: a NUL byte in a file ends the text
// there, as if the file ended. A parse replaces (and frees) the current root;
// a caller that wants to keep it takes it with takeRoot() first.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QStringList>

#include "xml/sourcemap.h"
#include "xml/xmlnode.h"


class XMLDocument {
public:
  // flags 1 keeps character data and comments; any other value drops them.
  explicit XMLDocument(int flags = 0) : flags(flags) {}
  virtual ~XMLDocument();
  XMLDocument(const XMLDocument&) = delete;
  XMLDocument& operator=(const XMLDocument&) = delete;

  // The element factory; a subclass decides the element class of its trees.
  virtual std::unique_ptr<XMLElement> createElement(std::string tagName);

  // Parses a NUL-terminated buffer and makes the result the root (possibly
  // none). Returns false with errorMessage/errorLine set on a syntax error.
  bool parse(const char* text);
  // Reads the whole file from its start, skips a UTF-8 byte-order mark and
  // parses it. A read error (or more than 1 GiB before the first NUL) gives
  // false with "couldn't read file", errorLine 0 and the root unchanged.
  bool parse(std::FILE* file);
  // Opens `path` ("rb") and parses it. When it cannot be opened or read:
  // "couldn't read <path>" (cut to 1023 bytes), errorLine 0, root unchanged.
  bool load(const char* path);

  XMLElement* root() const { return root_.get(); }
  void setRoot(std::unique_ptr<XMLElement> root) { root_ = std::move(root); }
  std::unique_ptr<XMLElement> takeRoot() { return std::move(root_); }

  // Deep copy (elements made through createElement, attributes in order).
  std::unique_ptr<XMLNode> cloneNode(const XMLNode& node);

  int flags;
  std::string errorMessage;  // at most 1023 bytes
  int errorLine = 0;

  // One reason at a place in the text: line and column from 1; line 0 when
  // it concerns the whole file.
  struct Remark {
    int line = 0;
    int column = 0;
    QString text;
  };
  // Why the last parse or load failed or gave no root, in words for the
  // user: the reason first, then notes. Empty when neither happened.
  std::vector<Remark> problem;
  // Input that the last parse skipped although it read well: attributes
  // without a value or with an unquoted one.
  std::vector<Remark> notices;
  // The system's reason when the last load could not read its file; empty
  // when the file was read.
  QString readError;

  // Where the nodes of this document came from.
  SourceMap sources;

protected:
  // The SourceMap file that the nodes being read are marked with.
  std::uint32_t readingFile_ = 0;

private:
  std::unique_ptr<XMLElement> root_;
};

// Adds loading by a path given as a QString.
class QXMLDocument : public XMLDocument {
public:
  using XMLDocument::XMLDocument;
  using XMLDocument::load;
  // The path holds the file name's bytes, one character each (see
  // base/bytes.h); the message carries them. A path holding a NUL cannot be
  // opened.
  // `openedBy` is the SourceMap origin of the include or Import that reads
  // the file, 0 for a file named by the user; diagnostics name the file
  // `shownAs` when given, else `path`.
  bool load(const QString& path, std::uint32_t openedBy = 0, const QString& shownAs = QString());
  // The SourceMap file of the last load, also when it failed.
  std::uint32_t loadedFile = 0;
  // Reports `problem` of the last load at its places in the file, the reason
  // with `severity` and the rest as notes, then the includes and Imports
  // that read the file.
  void reportLoadProblem(Diagnostics& diagnostics, Severity severity) const;
  // Reports `notices` of the last load as warnings, with the same notes.
  void reportNotices(Diagnostics& diagnostics) const;

  // Every path that load() read, in order, repeats included: what a build
  // tool must watch to know when the output is out of date. A file that was
  // read but did not parse is listed too, since fixing it changes the result.
  QStringList filesRead;
};
