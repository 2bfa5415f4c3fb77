// When the program was built, in the form of the preprocessor's date and time macros.
#ifndef BRONTEL_CONFIG_BUILD_STAMP_H
#define BRONTEL_CONFIG_BUILD_STAMP_H

extern const char BRONTEL_BUILD_DATE[];
extern const char BRONTEL_BUILD_TIME[];
extern const wchar_t T_BRONTEL_BUILD_DATE[];
extern const wchar_t T_BRONTEL_BUILD_TIME[];

#endif
