// app/opml_export.cpp - the OPML document of the loaded feeds and the export
// dialog.
//
// The file, line by line (each ends with a line feed):
//   <?xml version="1.0" encoding="UTF-8"?>
//   <opml version="1.0">
//   \t<head>
//   \t\t<title>Feeds from Brindlework</title>
//   \t</head>
//   \t<body>
//   \t\t<outline type="rss" text="NAME" title="NAME" xmlUrl="ADDRESS"/>   (one per feed)
//   \t</body>
//   </opml>
// With no feed the body is "\t<body>\n\t\t</body>\n".
#include "app/opml_export.h"

#include <memory>

#include "app/modal_dialog.h"
#include "app/startup_data_folder.h"
#include "core/charset.h"
#include "core/exception.h"
#include "gui/host/core/gui_input_hosts.h"
#include "news/ui_seam.h"
#include "platform/dos.h"
#include "platform/dos_errors.h"
#include "platform/file.h"
#include "platform/native_path.h"
#include "platform/owned_names.h"
#include "platform/path.h"
#include "web/xml_writer.h"

namespace bw {
namespace {

// The name a document is written under before it takes its own.
constexpr char kTemporaryPrefix[] = "OPML_Export_";

// Converts a value into the writer's encoding, then escapes what an
// attribute value may not hold as it stands.
class OpmlEscapes : public webDecoder {
 public:
  Str decode(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) const override {
    Str converted = convertDocumentText(text, from, to);
    const bool utf8 = isUtf8Encoding(to);
    std::string out;
    std::string_view in = converted.view();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      char c = in[i];
      if (c == '<') out += "&lt;";
      else if (c == '>') out += "&gt;";
      else if (c == '&') out += "&amp;";
      else if (c == '"') out += "&quot;";
      else if (utf8 && c == '\xC2' && i + 1 < in.size() && in[i + 1] == '\xA0') out += "&#160;", ++i;
      else out += c;
    }
    if (nilIfUnchanged && out == text.view()) return Str();
    return Str(out);
  }
};

std::unique_ptr<webDataNode> element(webDataRoot& document, const char* name, const char* text, const char* after) {
  auto node = std::make_unique<webDataNode>(Str(name), Str(text), 0, &document, Str());
  node->setTextAfterEndTag(Str(after));
  return node;
}

}  // namespace

std::string makeOpmlText(newsRoot& root, const cEncoding& charset) {
  auto utf8 = std::make_unique<cEncodingUTF>();
  utf8->load("UTF-8");
  webDataRoot document;
  // The values are held in the charset: the writer converts them to UTF-8.
  document.setContents(nullptr, Str("UTF-8"), Str(), charset.clone(), charset.clone(),
                       std::make_shared<OpmlEscapes>());
  auto opml = element(document, "opml", "\n\t", "\n");
  opml->addAttribute(Str("version"), Str("1.0"));
  webDataNode* opmlNode = opml.get();
  document.addNodes(std::move(opml), &document);
  auto head = element(document, "head", "\n\t\t", "\n\t");
  webDataNode* headNode = head.get();
  opmlNode->addChildNode(std::move(head));
  headNode->addChildNode(element(document, "title", "Feeds from Brindlework", "\n\t"));
  auto body = element(document, "body", "\n\t\t", "\n");
  webDataNode* bodyNode = body.get();
  opmlNode->addChildNode(std::move(body));
  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    Str name = feed->infoName(&charset);
    Str address = feed->docFormat ? convertFeedText(*feed->docFormat, &charset, feed->url, true, false) : feed->url;
    auto outline = element(document, "outline", "", feed->nextLoadedFeed ? "\n\t\t" : "\n\t");
    outline->addAttribute(Str("type"), Str("rss"));
    outline->addAttribute(Str("text"), name);
    outline->addAttribute(Str("title"), name);
    outline->addAttribute(Str("xmlUrl"), address);
    bodyNode->addChildNode(std::move(outline));
  }
  Str text = createXMLintoString(document, utf8.get(), false);
  return std::string(text.view());
}

OpmlWriteResult makeOpmlDocument(Text path, newsRoot& root, const cEncoding& charset, bool replace) {
  const std::string text = makeOpmlText(root, charset);
  const Str native = cPath::ExportPath(path);
  std::string host;
  if (!dos::nativeToHost(native, host)) host = std::string(native.view());
  // The host's words for the step that failed, before anything sets others.
  auto failed = [&](OpmlWriteResult::Kind kind, const char* otherwise) {
    std::string reason = dos::faultMessage(dos::ioErr());
    if (reason.empty()) reason = otherwise;
    return OpmlWriteResult{kind, std::move(reason), host, cPath::ExistsPath(path, false)};
  };
  // Written whole beside the name and renamed onto it: a file that was
  // there stays as it was until the new one can take its place.
  OwnedFile temporary(cPath::ExtractSubPath(path).view(), kTemporaryPrefix);
  cFile file;
  file.initialise(0);
  if (!file.create(temporary.name(), true, false)) return failed(OpmlWriteResult::kNotCreated, "unknown error");
  // Feed addresses may hold the user's private tokens.
  if (!makePrivate(cPath::ExportPath(temporary.name()))) {
    OpmlWriteResult result = failed(OpmlWriteResult::kNotCreated, "unknown error");
    file.closeAbandoning();
    return result;
  }
  try {
    file.write(text.data(), static_cast<int64_t>(text.size()), 0, false);
    file.close();  // written back and synced
  } catch (const eException& e) {
    if (e.code() != "FULL" && e.code() != "FILE") throw;
    OpmlWriteResult result = failed(OpmlWriteResult::kNotWritten,
                                    e.code() == "FULL" ? "the disk is full" : "the file could not be written");
    file.closeAbandoning();
    return result;
  }
  if (!temporary.renameTo(path, replace)) return failed(OpmlWriteResult::kNotCreated, "unknown error");
  return {};
}

namespace {

// The save chooser gave this name (and asked before it named a file that
// is there).
bool chosenForSaving(cGuiPathString& file) {
  auto* host = dynamic_cast<cGuiPathStringHost*>(&file);
  return host && host->infoChosenForSaving();
}

// Names "OK" accepts: a file's, not a folder's; one that is there only as
// the save chooser gave it.
bool exportablePath(cGuiPathString& file) {
  Str path = file.getState();
  if (path.isNil() || path.empty() || path.view().back() == '/') return false;
  return !cPath::ExistsPath(path, true) || chosenForSaving(file);
}

}  // namespace

bool exportOpmlFile(cGuiWindow* mainWindow, newsRoot& root, const cEncoding& charset) {
  ModalDialog dialog("Export OPML file");
  dialog->beginGroupVertical(nullptr);
  cGuiPathString* file = dialog->addPathString("File")->initSaveMode();
  dialog->addLabel("You can export a list of your RSS feeds (in OPML format) to a file.")->initAlignLeft();
  dialog->addLabel("Then you can import that into another news reader, or give it to another Brindlework user, "
                   "adding all your feeds in one go.")
      ->initAlignLeft();
  auto [ok, cancel] = dialog.addButtonRow("Cancel", true);
  dialog.open(mainWindow);

  bool quit = false;
  for (;;) {
    ModalDialog::Event e = dialog.next();
    if (e.quit) quit = true;
    if (e.quit || e.close || e.item == cancel) return quit;
    if (e.item == file) ok->setDisabled(!exportablePath(*file));
    if (e.item == ok) break;
  }
  Str path = file->getState();
  const bool replace = chosenForSaving(*file);
  dialog->close();
  const OpmlWriteResult written = makeOpmlDocument(path, root, charset, replace);
  const char* const kept = written.kept ? "\nThe file that was there is unchanged." : "";
  if (written.kind == OpmlWriteResult::kNotCreated) {
    newsUi().gui_requester("Export OPML file", "Failed to create file:\n\x1b" "1%s\n%s%s", "OK",
                           {written.file, written.reason, kept}, 0, 0);
  } else if (written.kind == OpmlWriteResult::kNotWritten) {
    newsUi().gui_requester("Export OPML file", "The OPML file could not be written:\n\x1b" "1%s\n%s%s", "OK",
                           {written.file, written.reason, *kept ? kept : "\nThe unfinished file was removed."}, 0,
                           0);
  }
  return quit;
}

}  // namespace bw
