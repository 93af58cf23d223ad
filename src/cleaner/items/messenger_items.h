#pragma once
// The "Instant Messengers" group: MSN / Windows Live Messenger's message logs,
// received files and caches, Yahoo! Messenger's logs and caches, and Skype's
// old chat files. "ICQ" and "AOL Instant Messenger" are sections of apls.dat
// and run through the data-file routine.
namespace brisko {

class ItemTable;

void addMessengerItems(ItemTable& table);

}  // namespace brisko
