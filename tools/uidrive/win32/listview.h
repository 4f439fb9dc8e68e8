// Reading and changing a list view of another process. Messages that carry a
// pointer need the structure in the target's own memory, so each call places
// it there (VirtualAllocEx), sends the message, and reads the answer back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace uidrive {

// A block of memory inside the process that owns `window`, freed on scope exit.
class RemoteBlock {
 public:
  RemoteBlock(HWND window, std::size_t size);
  ~RemoteBlock();
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  void* address() const { return m_address; }
  LPARAM param(std::size_t offset = 0) const {
    return reinterpret_cast<LPARAM>(static_cast<char*>(m_address) + offset);
  }
  void Write(std::size_t offset, const void* data, std::size_t size);
  void Read(std::size_t offset, void* data, std::size_t size) const;

 private:
  HANDLE m_process = nullptr;
  void* m_address = nullptr;
};

struct ListColumn {
  std::string text;
  int width = 0;
};

struct ListRow {
  std::vector<std::string> texts;  // one per column
  bool checked = false;
  bool selected = false;
};

std::vector<ListColumn> ListColumns(HWND list);
std::vector<ListRow> ListRows(HWND list);
// Sets a row's check box (the state image) or its selection and focus; the list
// notifies its parent as it would for the user.
void SetRowChecked(HWND list, int row, bool checked);
void SelectRow(HWND list, int row);
// A cell's rectangle in the list's client coordinates (sub-item 0: its label).
RECT CellRect(HWND list, int row, int subItem);

}  // namespace uidrive
