#include "browser/navigation.h"

#include <algorithm>

#include "base/keys.h"
#include "crypto/encrypted_name.h"

namespace quorvant {

int ClampSelection(const FileTable& table, int selected_index) {
  if (selected_index > table.FileCount()) selected_index = table.FileCount();
  if (selected_index < 1) selected_index = 1;
  return selected_index;
}

int MoveSelection(const FileTable& table, int selected_index, char scan_letter) {
  switch (scan_letter) {
    case scan::Up:
    case scan::Left: --selected_index; break;
    case scan::Down:
    case scan::Right: ++selected_index; break;
    case scan::Home: selected_index = 1; break;
    case scan::End: selected_index = table.FileCount(); break;
    case scan::PgUp: selected_index -= table.PageStep(); break;
    case scan::PgDn: selected_index += table.PageStep(); break;
    default: break;
  }
  return ClampSelection(table, selected_index);
}

int FindByFirstCharacter(const FileTable& table, int selected_index, char character) {
  const int count = table.FileCount();
  if (count == 0) return selected_index;
  const int start = ClampSelection(table, selected_index);
  // Visit every other entry once, beginning after the selected one.
  for (int step = 1; step < count; ++step) {
    const int index = (start - 1 + step) % count + 1;
    const std::string& name = table.Entry(index).name;
    if (!name.empty() && name.front() == character) return index;
  }
  return selected_index;
}

int FindNextEncrypted(const FileTable& table, int selected_index) {
  for (int index = std::max(selected_index + 1, 1); index <= table.FileCount(); ++index) {
    if (table.Entry(index).encrypted_flag == 1) return index;
  }
  for (int index = 1; index <= table.FileCount(); ++index) {
    if (table.Entry(index).encrypted_flag == 1) return index;
  }
  return selected_index;
}

std::string_view DisplayName(const FileEntry& entry) {
  std::string_view name = entry.name;
  if (entry.encrypted_flag == 1 && name.size() >= EncryptedSuffixLength) {
    name.remove_suffix(EncryptedSuffixLength);
  }
  return name;
}

}  // namespace quorvant
