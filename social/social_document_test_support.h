// social/social_document_test_support.h - the document a social download
// hands the feed update, made by hand: JSON texts under their pseudo-root
// names, in the order given.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/json_reader.h"
#include "web/web_data.h"

namespace bw::testing_social {

// Each (text, name) read with a cJSON of table (NIL: plain) and named; an
// empty text leaves its root out. texts keeps the bytes the nodes point into.
inline std::unique_ptr<webDataRoot> socialDocument(const std::vector<std::pair<std::string, std::string_view>>& parts,
                                                   const TranslateEntry* table,
                                                   std::vector<std::unique_ptr<std::string>>& texts) {
  std::unique_ptr<webDataRoot> doc;
  for (const auto& [text, name] : parts) {
    if (text.empty()) continue;
    texts.push_back(std::make_unique<std::string>(text));
    cJSON reader(table);
    JsonParseResult r = reader.parseDocument(texts.back()->data(), static_cast<int32_t>(texts.back()->size()));
    EXPECT_TRUE(r.root) << r.message.view() << " in " << text;
    if (!r.root) continue;
    r.root->head()->setName(Str(name), Str(), false);
    if (doc) {
      doc->addNodes(r.root->takeNodes(), doc.get());
    } else {
      doc = std::move(r.root);
    }
  }
  return doc;
}

}  // namespace bw::testing_social
