// The resource classes newFont and newStream.
#pragma once

#include "script/LMP_Binding.h"

class VIEW_Font;
class VIEW_Stream;

class LMP_Font : public LMP_Proxy {
public:
    LMP_Font() = default;             // a proxy for an existing font
    explicit LMP_Font(lua_State* L);  // newFont(file name)
    VIEW_Font* font() const { return static_cast<VIEW_Font*>(model); }

    int deleteFont(lua_State* L);

    static constexpr const char* scriptName = "newFont";
    static const LMP_MethodEntry<LMP_Font> methods[];
};

class LMP_Stream : public LMP_Proxy {
public:
    LMP_Stream() = default;
    explicit LMP_Stream(lua_State* L);  // newStream(file name [, filter])
    VIEW_Stream* stream() const { return static_cast<VIEW_Stream*>(model); }

    int deleteStream(lua_State* L);
    int getTexture(lua_State* L);
    int getSample(lua_State* L);
    int getTime(lua_State* L);
    int getCurrentFrame(lua_State* L);
    int getDuration(lua_State* L);
    int isPlaying(lua_State* L);
    int play(lua_State* L);
    int pause(lua_State* L);
    int seek(lua_State* L);

    static constexpr const char* scriptName = "newStream";
    static const LMP_MethodEntry<LMP_Stream> methods[];
};

// Pushes the font's proxy, making and linking it on first use; nothing is
// pushed for null (answers the number of values pushed).
int LMP_iPushFont(lua_State* L, VIEW_Font* font);
