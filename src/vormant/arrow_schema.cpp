#include "vormant/arrow_schema.hpp"

#include <memory>
#include <string_view>

namespace tarnex::vormant {
namespace {

constexpr char kStructFormat[] = "+s";
constexpr char kFloat32Format[] = "f";
constexpr char kNoName[] = "";

struct FieldHolder {
  std::string name;
};

struct SchemaHolder {
  explicit SchemaHolder(const ColumnLayout& layout)
      : metadata(layout.metadata), fields(layout.names.size()) {}

  std::string metadata;
  ChildNodes<ArrowSchema> fields;
};

void append_int32(std::string& out, std::size_t value) {
  const auto number = static_cast<std::int32_t>(value);
  out.append(reinterpret_cast<const char*>(&number), sizeof number);
}

void append_sized(std::string& out, const std::string& text) {
  append_int32(out, text.size());
  out += text;
}

// Every column is nullable, as Arrow's fields are by default; none holds a null.
void export_field(const std::string& name, ArrowSchema& out) {
  auto holder = std::make_unique<FieldHolder>(FieldHolder{name});
  out = ArrowSchema{
      .format = kFloat32Format,
      .name = holder->name.c_str(),
      .metadata = nullptr,
      .flags = ARROW_FLAG_NULLABLE,
      .n_children = 0,
      .children = nullptr,
      .dictionary = nullptr,
      .release = &release_holder<FieldHolder, ArrowSchema>,
      .private_data = holder.release(),
  };
}

bool has_format(const char* format, std::string_view expected) noexcept {
  return format != nullptr && std::string_view(format) == expected;
}

bool is_float32_field(const ArrowSchema* field, const std::string& name) noexcept {
  return field != nullptr && has_format(field->format, kFloat32Format) &&
         field->n_children == 0 && field->dictionary == nullptr && field->name != nullptr &&
         std::string_view(field->name) == name;
}

}  // namespace

std::string encode_metadata(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string out;
  if (pairs.empty()) return out;
  append_int32(out, pairs.size());
  for (const auto& [key, value] : pairs) {
    append_sized(out, key);
    append_sized(out, value);
  }
  return out;
}

void export_schema(const ColumnLayout& layout, ArrowSchema& out) {
  auto holder = std::make_unique<SchemaHolder>(layout);
  for (std::size_t i = 0; i < layout.names.size(); ++i) {
    export_field(layout.names[i], holder->fields[i]);
  }
  out = ArrowSchema{
      .format = kStructFormat,
      .name = kNoName,
      .metadata = holder->metadata.empty() ? nullptr : holder->metadata.data(),
      .flags = 0,
      .n_children = holder->fields.count(),
      .children = holder->fields.pointers(),
      .dictionary = nullptr,
      .release = &release_holder<SchemaHolder, ArrowSchema>,
      .private_data = holder.release(),
  };
}

bool same_columns(const ArrowSchema& requested, const ColumnLayout& layout) noexcept {
  if (requested.release == nullptr || !has_format(requested.format, kStructFormat) ||
      requested.dictionary != nullptr || requested.children == nullptr ||
      requested.n_children != static_cast<std::int64_t>(layout.names.size())) {
    return false;
  }
  for (std::size_t i = 0; i < layout.names.size(); ++i) {
    if (!is_float32_field(requested.children[i], layout.names[i])) return false;
  }
  return true;
}

}  // namespace tarnex::vormant
