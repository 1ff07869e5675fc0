#include "services/docserver/FieldCodeLinks.h"

#include <array>
#include <optional>
#include <string>

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/ConnectionString.h"
#include "services/docserver/FieldInstruction.h"
#include "services/docserver/XmlPart.h"

namespace quavelle::docserver {
namespace {

constexpr std::array<std::string_view, 2> kWordNamespaces = {
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main",
    "http://purl.oclc.org/ooxml/wordprocessingml/main"};
constexpr std::string_view kOfficeNamespace = "urn:schemas-microsoft-com:office:office";
constexpr std::string_view kVmlNamespace = "urn:schemas-microsoft-com:vml";

// Stands for a nested field in an instruction: a character no XML text holds.
constexpr char kNested = '\x01';

bool IsWord(std::string_view uri) { return uri == kWordNamespaces[0] || uri == kWordNamespaces[1]; }

const XmlAttribute* WordAttribute(const XmlElement& element, std::string_view localName) {
  for (const XmlAttribute& attribute : *element.attributes) {
    if (attribute.localName == localName && IsWord(attribute.namespaceUri)) return &attribute;
  }
  return nullptr;
}

// A field's instruction as its slots hold it: the order of its text pieces
// and of the nested fields between them.
struct Layout {
  std::vector<int> items;  // a piece's index, or -1 for a nested field
};

std::string Instruction(const Layout& layout, const std::vector<std::string>& pieces) {
  std::string out;
  for (int item : layout.items) {
    if (item < 0) {
      out += kNested;
    } else {
      out += pieces[static_cast<std::size_t>(item)];
    }
  }
  return out;
}

// The pieces' new texts once instruction bytes [begin, end) become text: the
// new text goes where the old began, and the other pieces lose their share.
std::vector<std::string> Distributed(const Layout& layout, const std::vector<std::string>& pieces,
                                     std::size_t begin, std::size_t end, const std::string& text) {
  std::vector<std::string> out(pieces.size());
  std::size_t at = 0;
  for (int item : layout.items) {
    if (item < 0) {
      ++at;
      continue;
    }
    const std::string& piece = pieces[static_cast<std::size_t>(item)];
    const std::size_t pieceEnd = at + piece.size();
    std::string& result = out[static_cast<std::size_t>(item)];
    if (at < begin) result += piece.substr(0, std::min(pieceEnd, begin) - at);
    if (begin >= at && begin < pieceEnd) result += text;
    if (end < pieceEnd) result += piece.substr(std::max(end, at) - at);
    at = pieceEnd;
  }
  return out;
}

// Finds the token that holds a field's file, in an instruction as it is now.
using TokenLocator = std::size_t (*)(const std::vector<FieldToken>&);

// The writer for a file stored in token locate() of the instruction, either
// as the whole argument or, with valueIndex set, as that value of the
// connection string the argument holds.
PlaceWriter FieldWriter(Layout layout, TokenLocator locate, std::optional<std::size_t> valueIndex) {
  return [layout = std::move(layout), locate, valueIndex](
             const std::vector<std::string>& current, std::string_view oldReference,
             std::string_view newReference) -> std::optional<std::vector<std::string>> {
    const std::string instruction = Instruction(layout, current);
    const std::vector<FieldToken> tokens = TokenizeField(instruction);
    const std::size_t k = locate(tokens);
    if (k == kNoToken) return std::nullopt;
    const FieldToken& token = tokens[k];
    if (instruction.substr(token.begin, token.end - token.begin).find(kNested) !=
        std::string::npos) {
      return std::nullopt;
    }
    std::string argument;
    if (valueIndex) {
      const std::vector<ConnectionValue> values = ParseConnectionString(token.value);
      if (*valueIndex >= values.size() || values[*valueIndex].value != oldReference) {
        return std::nullopt;
      }
      argument = WithConnectionValue(token.value, values[*valueIndex], newReference);
    } else {
      if (token.value != oldReference) return std::nullopt;
      argument = newReference;
    }
    return Distributed(layout, current, token.begin, token.end,
                       WriteFieldArgument(token, argument));
  };
}

struct OpenField {
  std::vector<ValueSlot> slots;
  std::vector<std::string> pieces;
  Layout layout;
  bool inInstruction = true;
};

// Appends the links of a field whose instruction is complete.
void EmitFieldLinks(const OpenField& field, std::string_view entryName,
                    const std::shared_ptr<const TargetContext>& context,
                    std::vector<FoundLink>& out) {
  const std::string instruction = Instruction(field.layout, field.pieces);
  const std::vector<FieldToken> tokens = TokenizeField(instruction);
  // Within one field, the connection string's files join the \d file.
  const std::string fieldKey =
      "field:" + std::string(entryName) + "#" + std::to_string(field.slots.front().ordinal);
  const auto computed = [&](const FieldToken& token) {
    return instruction.substr(token.begin, token.end - token.begin).find(kNested) !=
           std::string::npos;
  };
  if (const std::size_t k = FileArgument(tokens); k != kNoToken && !computed(tokens[k])) {
    std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(tokens[k].value), *context);
    if (target) {
      FoundLink link = SlotLink(field.slots, FieldWriter(field.layout, &FileArgument, {}),
                                tokens[k].value, context, std::move(*target));
      if (FieldName(tokens) == "LINK") {
        link.joinKey = "object:" + std::string(entryName);
        link.joinsAsCompanion = true;
      } else {
        link.joinKey = fieldKey;
      }
      out.push_back(std::move(link));
    }
  }
  if (const std::size_t k = ConnectionArgument(tokens); k != kNoToken && !computed(tokens[k])) {
    // Same grammar as FindConnectionLinks, but the string is a field argument.
    const std::vector<ConnectionValue> values = ParseConnectionString(tokens[k].value);
    for (std::size_t v = 0; v < values.size(); ++v) {
      if (!IsFileKey(values[v].key) || !NamesFileByFullPath(values[v].value)) continue;
      std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(values[v].value), *context);
      if (!target) continue;
      FoundLink link = SlotLink(field.slots, FieldWriter(field.layout, &ConnectionArgument, v),
                                values[v].value, context, std::move(*target));
      link.joinKey = fieldKey;
      link.joinsAsCompanion = true;
      out.push_back(std::move(link));
    }
  }
}

class FieldCollector {
 public:
  FieldCollector(std::string_view entryName, std::shared_ptr<const TargetContext> context,
                 std::vector<FoundLink>& out)
      : entryName_(entryName), context_(std::move(context)), out_(out) {}

  void Visit(const XmlElement& element) {
    if (element.namespaceUri == kVmlNamespace && element.localName == "imagedata") {
      return PictureSource(element);
    }
    if (!IsWord(element.namespaceUri)) return;
    if (element.localName == "fldSimple") {
      if (const XmlAttribute* instr = WordAttribute(element, "instr")) {
        NoteNested();
        OpenField field;
        field.slots.push_back(
            {element.ordinal, std::string(instr->qualifiedName), std::string(instr->value)});
        field.pieces.emplace_back(instr->value);
        field.layout.items.push_back(0);
        Emit(field);
      }
    } else if (element.localName == "fldChar") {
      const XmlAttribute* type = WordAttribute(element, "fldCharType");
      if (type == nullptr) return;
      if (type->value == "begin") {
        NoteNested();
        open_.emplace_back();
      } else if (type->value == "separate" && !open_.empty()) {
        open_.back().inInstruction = false;
      } else if (type->value == "end" && !open_.empty()) {
        OpenField field = std::move(open_.back());
        open_.pop_back();
        Emit(field);
      }
    } else if (element.localName == "instrText" || element.localName == "delInstrText") {
      if (open_.empty() || !open_.back().inInstruction) return;
      OpenField& field = open_.back();
      field.layout.items.push_back(static_cast<int>(field.pieces.size()));
      field.slots.push_back({element.ordinal, {}, std::string(element.text)});
      field.pieces.emplace_back(element.text);
    }
  }

 private:
  // A field that begins inside another's instruction computes part of it.
  void NoteNested() {
    if (!open_.empty() && open_.back().inInstruction) open_.back().layout.items.push_back(-1);
  }

  void Emit(const OpenField& field) { EmitFieldLinks(field, entryName_, context_, out_); }

  // The file a linked VML picture was taken from.
  void PictureSource(const XmlElement& element) {
    for (const XmlAttribute& attribute : *element.attributes) {
      if (attribute.localName != "href" || attribute.namespaceUri != kOfficeNamespace) continue;
      std::optional<LinkTarget> target = ParseLinkTarget(FromUtf8(attribute.value), *context_);
      if (!target) continue;
      out_.push_back(AttributeLink(element.ordinal, attribute.qualifiedName, attribute.value,
                                   context_, std::move(*target)));
    }
  }

  std::string_view entryName_;
  std::shared_ptr<const TargetContext> context_;
  std::vector<FoundLink>& out_;
  std::vector<OpenField> open_;
};

}  // namespace

void FindInstructionLinks(const ValueSlot& slot, std::string_view instruction,
                          std::string_view entryName,
                          const std::shared_ptr<const TargetContext>& context,
                          std::vector<FoundLink>& out) {
  OpenField field;
  field.slots.push_back(slot);
  field.pieces.emplace_back(instruction);
  field.layout.items.push_back(0);
  EmitFieldLinks(field, entryName, context, out);
}

bool IsStoryPart(std::string_view entryName) {
  const std::size_t slash = entryName.rfind('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view folder = entryName.substr(0, slash);
  const std::string_view name = entryName.substr(slash + 1);
  if (folder != "word" && folder != "word/glossary") return false;
  if (!EndsWithIgnoringAsciiCase(name, ".xml")) return false;
  constexpr std::array<std::string_view, 6> kStories = {"document",  "header",   "footer",
                                                        "footnotes", "endnotes", "comments"};
  for (std::string_view story : kStories) {
    if (name.size() > story.size() &&
        EqualsIgnoringAsciiCase(name.substr(0, story.size()), story)) {
      return true;
    }
  }
  return false;
}

void FindFieldCodeLinks(const XmlPart& part, std::string_view entryName,
                        const std::shared_ptr<const TargetContext>& context,
                        std::vector<FoundLink>& out) {
  FieldCollector collector(entryName, context, out);
  part.ForEachElement([&](const XmlElement& element) { collector.Visit(element); });
}

}  // namespace quavelle::docserver
