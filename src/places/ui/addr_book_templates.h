// The templates of the address book's dialogs: the list "通讯录" 301, the one-entry editor
// "通讯录" 302 and the mark pop-up template editor 283 (control ids, captions, sizes in dialog
// units).
#pragma once

namespace velmora {

inline constexpr int kAddressBookTemplateId = 301;
inline constexpr int kAddressEntryTemplateId = 302;
inline constexpr int kTemplateEditorTemplateId = 283;

// Registers the three templates (once) and returns `id`, for a dialog constructor.
int RegisterAddrBookTemplates(int id = 0);

}  // namespace velmora
