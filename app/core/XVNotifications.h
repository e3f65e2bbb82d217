#pragma once
// Names of the application's notifications on the default notification centre
// (foundation::NotificationCenter::defaultCenter()). Observers that touch widgets move to the
// GUI thread themselves: delivery happens on the posting thread.

#include <string>

// A page view's current page changed (no sender, no user info).
inline const std::string ChangePageForTitleNotification = "ChangePageForTitleNotification";
// A module's search ended (no sender, no user info).
inline const std::string SearchForThunbnailNotification = "SearchForThunbnailNotification";
// A file cannot be opened. User info: XVFilePathUserInfoKey -> QString (the path concerned).
inline const std::string Open_Filed_Error_Info = "Open_Filed_Error_Info";
// The browser's last tab closed (sender: the browser).
inline const std::string remove_all_document_notification = "remove_all_document_notification";
// Posted by the export flow around its progress sheet and alert: NO when they come up, YES
// when they go (user info XVToolEnableUserInfoKey -> bool).
inline const std::string XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION = "XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION";
inline const std::string XVToolEnableUserInfoKey = "enable";

// User-info key of the path a notification concerns (a QString).
inline const std::string XVFilePathUserInfoKey = "filePath";
