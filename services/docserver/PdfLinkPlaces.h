#pragma once

#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "services/docserver/PdfFileName.h"

// Where a PDF keeps strings that may name other files: URI actions, the file
// file names of remote go-to and launch actions (with a launch's /Win /F),
// reached from link and other annotations, outline items, the open action,
// additional actions of the document, pages and form fields, and chained /Next
// actions. Reads only the objects on those paths, never a content stream.
namespace quavelle::docserver {

// One string of a link.
struct PdfStringPlace {
  QPDFObjectHandle holder;  // the dictionary that holds the string
  std::string key;          // "/URI", "/F", "/UF", "/DOS", "/Unix"
  QPDFObjGen top;           // the indirect object holder is part of; written again on change
  PdfNameSyntax syntax = PdfNameSyntax::FileName;
};

// Every string that names one link's target, the most exact first (/UF, /F,
// /Win /F, /DOS, /Unix): they move together.
struct PdfLinkPlaces {
  std::vector<PdfStringPlace> places;
};

struct PdfLinkSurvey {
  std::vector<PdfLinkPlaces> links;  // in document order
  bool signedDocument = false;       // a signature value with /ByteRange, or /Perms
  bool uriBase = false;              // the catalog sets a /URI /Base for relative URIs
};

PdfLinkSurvey SurveyPdfLinks(QPDF& pdf);

}  // namespace quavelle::docserver
