// Texts that several windows and messages of the module show, each written
// once, exactly as the operator knows it. No Qt: the core units' messages
// use the captions too.
#pragma once

namespace selvo {

// The buttons that close a window with or without its changes.
inline constexpr const char* kOkText = "OK";
inline constexpr const char* kOkHint = "Сохраняет изменения в базе данных и закрывает окно";
inline constexpr const char* kCancelText = "Отмена";
inline constexpr const char* kCancelHint = "Закрывает окно без сохранения изменений";

// Message box captions.
inline constexpr const char* kErrorCaption = "Ошибка";
inline constexpr const char* kErrorAlarmCaption = "Ошибка!";
inline constexpr const char* kConfirmCaption = "Подтверждение";
inline constexpr const char* kMessageCaption = "Сообщение";
inline constexpr const char* kAttentionText = "Внимание!";

}  // namespace selvo
