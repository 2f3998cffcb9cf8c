// Writes seed inputs for the package fuzz target: packages of the shapes the
// reader meets, both as unscrambled record runs and as signed, scrambled
// packages (the target reads every input both ways).
//
// With --corpus DIR it writes the committed seed corpora of the text-driven
// targets instead (DIR/chunk, DIR/io, DIR/font, DIR/config, DIR/script_api);
// they are made once and kept in tests/fuzz/corpus/.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <lua.hpp>

#include "halvorin_key.h"
#include "pack.h"

namespace fs = std::filesystem;

namespace {

PackBytes bytesOf(const std::string& s) { return PackBytes(s.begin(), s.end()); }

const std::string kConfig = "<kolma>\n  <version major=\"1\" minor=\"6\" patch=\"4\"/>\n</kolma>\n";

bool write(const fs::path& path, const PackBytes& data) {
  std::string error;
  if (PACK_writeFile(path.string(), data, false, &error)) return true;
  fprintf(stderr, "make_fuzz_seeds: %s\n", error.c_str());
  return false;
}

bool writeText(const fs::path& path, const std::string& text) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  return write(path, bytesOf(text));
}

// Lua chunks for the chunk loader: ordinary scripts, the markers it skips,
// syntax errors, and precompiled chunks whole and damaged.
bool chunkCorpus(const fs::path& dir) {
  const std::vector<std::pair<std::string, std::string>> chunks = {
      {"empty", ""},
      {"startup", "function startup()\n  setCallback(CB_UPDATE, function(dt) t = (t or 0) + dt end)\nend\n"},
      {"mark_and_hash", "\xEF\xBB\xBF#!/usr/bin/lua\nreturn 1\n"},
      {"hash_only", "# comment without newline"},
      {"partial_mark", "\xEF\xBB" "return 2\n"},
      {"mark_only", "\xEF\xBB\xBF"},
      {"long_string", "local s = [==[\n]] ]=] text ]==] return s\n"},
      {"long_comment", "--[[ unclosed comment\nreturn 1\n"},
      {"numbers", "local a, b, c, d = 0x1p4, 1e308, .5e-3, 0xffffffffffffffff return a + b + c + d\n"},
      {"escapes", "return '\\65\\066\\x41\\z   \\n\\t\\\\', \"\\u{41}\"\n"},
      {"goto", "::top:: do goto done end goto top ::done:: return\n"},
      {"varargs", "local function f(...) return select('#', ...), ... end return f(1, nil, 3)\n"},
      {"nested_functions", "return function() return function() return function() return 1 end end end\n"},
      {"deep_parens", std::string(150, '(') + "1" + std::string(150, ')') + "\n"},
      {"too_deep_parens", "return " + std::string(400, '(') + "1" + std::string(400, ')') + "\n"},
      {"many_locals", [] {
         std::string s;
         for (int i = 0; i < 210; i++) s += "local v" + std::to_string(i) + " = " + std::to_string(i) + "\n";
         return s;
       }()},
      {"many_upvalues", [] {
         std::string s;
         for (int i = 0; i < 70; i++) s += "local u" + std::to_string(i) + " = " + std::to_string(i) + "\n";
         s += "return function() return ";
         for (int i = 0; i < 70; i++) s += (i ? " + u" : "u") + std::to_string(i);
         return s + " end\n";
       }()},
      {"table_constructor", "return {1, 2, 3; x = 1, ['y'] = 2, [3] = {}, f = function() end,}\n"},
      {"syntax_error", "x = = 1\n"},
      {"unfinished_string", "return 'abc\n"},
      {"unfinished_block", "if x then\n  while true do\n"},
      {"bad_escape", "return '\\400'\n"},
      {"nul_bytes", std::string("return 1\0 + 2\n", 14)},
      {"binary_mark_only", "\x1b"},
      {"binary_header_only", "\x1bLua\x52"},
      {"methods", "local o = {} function o:m(a) return self, a end return o:m(1), o.m(o, 2)\n"},
      {"operators", "return 1 + 2 - 3 * 4 / 5 % 6 ^ 7 .. 'x' == 'y' and not nil or #'z' < 2 <= 3 > 4 >= 5 ~= 6\n"},
      {"require_self", "local m = require('m') return m\n"},
      {"load_self", "return load(string.dump(function() return 1 end))\n"},
  };
  bool ok = true;
  for (const auto& [name, text] : chunks) ok = writeText(dir / (name + ".lua"), text) && ok;

  // Precompiled chunks: whole, cut and with bytes changed past the header.
  lua_State* L = luaL_newstate();
  if (!L) return false;
  luaL_openlibs(L);
  const char* dumper =
      "local f = ... return string.dump(load(f))";
  const char* sources[] = {"return 1", "local t = {} for i = 1, 10 do t[i] = i * i end return t",
                           "return function(a, b) return a .. b end"};
  int n = 0;
  for (const char* src : sources) {
    luaL_loadstring(L, dumper);
    lua_pushstring(L, src);
    if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
      lua_pop(L, 1);
      continue;
    }
    size_t len = 0;
    const char* dumped = lua_tolstring(L, -1, &len);
    std::string whole(dumped, len);
    lua_pop(L, 1);
    std::string tag = std::to_string(n++);
    ok = writeText(dir / ("dump" + tag), whole) && ok;
    ok = writeText(dir / ("dump" + tag + "_cut"), whole.substr(0, whole.size() / 2)) && ok;
    std::string flipped = whole;
    for (size_t i = 20; i < flipped.size(); i += 7) flipped[i] = char(flipped[i] + 0x5A);
    ok = writeText(dir / ("dump" + tag + "_flipped"), flipped) && ok;
  }
  lua_close(L);
  return ok;
}

// io seeds: a count n, n operation bytes (low four bits the method, high
// four its argument), then the file's bytes.
bool ioCorpus(const fs::path& dir) {
  const std::vector<std::string> files = {
      "", "line one\nline two\n", "no newline at the end", "12 3.5 -7 0x10 nan\n", "\r\n\r\n\n",
      std::string("bin\0ary\0", 8) + "\xff\xfe", std::string(3000, 'w') + "\n" + std::string(700, 'z'),
  };
  const std::vector<std::string> opLists = {
      std::string("\x00", 1),  // read all
      std::string("\x31\x21\x02\x00", 4),  // read(3 * 37), read(2 * 37), read(0), all
      std::string("\x03\x03\x05\x04", 4),  // *l, *l, *L, *n on a package entry
      std::string("\x26\x01\x17\x11\x58\x11", 6),  // seeks then reads
      std::string("\xF8\x00\x76\x00", 4),  // seek from the end past the start
      std::string("\x09\x0A\x0D", 3),  // lines, io.input, io.lines
      std::string("\x0B\x1C\x2C", 3),  // write on an entry, setvbuf and flush
      std::string("\x0E\x00\x1E\x00", 4),  // close and reopen, with and without "./"
      std::string("\x0E\x0E\x00", 3),  // use after close
      std::string("\x7F\x0F\x00", 3),  // many readings in one call
  };
  bool ok = true;
  int n = 0;
  for (size_t f = 0; f < files.size(); f++)
    for (size_t o = 0; o < opLists.size(); o++) {
      if ((f + o) % 2 == 1) continue;  // half the pairs are plenty
      std::string input(1, char(opLists[o].size()));
      input += opLists[o] + files[f];
      ok = writeText(dir / ("io" + std::to_string(n++)), input) && ok;
    }
  return ok;
}

// Font seeds: tab size, text length, text; a font file behind it only as a
// few hand-made TrueType headers (the compiled-in font serves otherwise).
bool fontCorpus(const fs::path& dir) {
  struct Text {
    const char* name;
    int8_t tab;
    std::string text;
  };
  const std::vector<Text> texts = {
      {"plain", 4, "Hello"},
      {"tabs", 8, "a\tb\t\tc"},
      {"negative_tab", -3, "x\ty"},
      {"zero_tab", 0, "\t\t"},
      {"lines", 4, "one\ntwo\r\nthree\rfour"},
      {"empty", 4, ""},
      {"utf8", 4, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"utf8_cut", 4, "\xE2\x82"},
      {"utf8_overlong", 4, "\xC0\xAF\xE0\x80\xAF"},
      {"utf8_surrogate", 4, "\xED\xA0\x80"},
      {"utf8_too_big", 4, "\xF4\x90\x80\x80\xFF"},
      {"kerning_pairs", 2, "AVAWAYTaTo"},
      {"spaces", 4, "     "},
      {"long_line", 4, std::string(250, 'm')},
      {"control", 4, std::string("\x01\x02\x1b\x7f", 4)},
      {"missing_glyphs", 4, "\xE4\xB8\xAD\xE6\x96\x87"},
      {"tab_at_start", 3, "\tx"},
      {"tab_at_end", 5, "x\t"},
      {"big_tab", 127, "a\tb"},
      {"most_negative_tab", -128, "a\tb"},
      {"only_newlines", 4, "\n\n\n"},
      {"mixed_scripts", 4, "A\xCE\xA9\xD0\x96\xD7\x90\xE3\x81\x82"},
      {"combining", 4, "e\xCC\x81" "a\xCC\x8A"},
      {"zero_width", 4, "a\xE2\x80\x8B" "b\xEF\xBB\xBF"},
      {"digits", 4, "0123456789.,;:"},
      {"nul_in_text", 4, std::string("a\0b", 3)},
  };
  bool ok = true;
  for (const Text& t : texts) {
    std::string input;
    input += char(t.tab);
    input += char(t.text.size());
    input += t.text;
    ok = writeText(dir / t.name, input) && ok;
  }
  // sfnt headers: a version and a table count with directories cut short or
  // pointing past the end.
  auto be16 = [](std::string& s, uint32_t v) {
    s += char(v >> 8);
    s += char(v);
  };
  auto be32 = [&](std::string& s, uint32_t v) {
    be16(s, v >> 16);
    be16(s, v & 0xFFFF);
  };
  const char* tags[] = {"cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name"};
  for (int variant = 0; variant < 6; variant++) {
    std::string font;
    be32(font, variant == 5 ? 0x4F54544F : 0x00010000);  // TrueType or CFF outlines
    be16(font, 8);
    be16(font, 128);
    be16(font, 3);
    be16(font, 0);
    int tables = variant == 0 ? 0 : variant == 1 ? 3 : 8;
    for (int i = 0; i < tables; i++) {
      font += tags[i];
      be32(font, 0);
      be32(font, variant == 3 ? 0xFFFFFF00u : uint32_t(12 + 16 * 8 + 64 * i));
      be32(font, variant == 4 ? 0x7FFFFFFFu : 54);
    }
    font.append(variant == 2 ? 16 : 8 * 64, '\0');
    std::string input = std::string(1, char(4)) + std::string(1, char(2)) + "Ab" + font;
    ok = writeText(dir / ("sfnt" + std::to_string(variant)), input) && ok;
  }
  return ok;
}

// Configurations nested around the readers' depth limit, and declarations,
// comments and quoted values that hide or show markup.
bool configCorpus(const fs::path& dir) {
  auto nested = [](int levels) {
    std::string s;
    for (int i = 0; i < levels; i++) s += "<n>";
    for (int i = 0; i < levels; i++) s += "</n>";
    return s;
  };
  const std::string version = "<version major=\"1\" minor=\"6\" patch=\"4\"/>";
  const std::vector<std::pair<std::string, std::string>> configs = {
      {"nested_at_limit", "<kolma>" + version + nested(250) + "</kolma>\n"},
      {"nested_over_limit", "<kolma>" + nested(300) + version + "</kolma>\n"},
      {"declaration_quotes", "<?xml version=\"1.0>\" encoding='x>y'?><kolma>" + version + "</kolma>\n"},
      {"declaration_other", "<?xml foo=\"><n><n>\"?><kolma>" + version + "</kolma>\n"},
      {"comment_markup", "<!-- <kolma><version major=\"9\"/></kolma> --><kolma>" + version + "</kolma>\n"},
      {"cdata_markup", "<kolma><![CDATA[<version major=\"9\"/>]]>" + version + "</kolma>\n"},
      {"quoted_markup", "<kolma><n a=\"</kolma>\" b='/>'>" + version + "</n>" + version + "</kolma>\n"},
      {"doctype", "<!DOCTYPE kolma [ <!ENTITY e 'x'> ]><kolma>" + version + "</kolma>\n"},
  };
  bool ok = true;
  for (const auto& [name, text] : configs) ok = writeText(dir / (name + ".xml"), text) && ok;
  return ok;
}


// Script API programs (fuzz_script_api.cpp): a set-up byte, then opcodes
// with their operand bytes. Hand-written scenes first, each built on the
// small world of opcode 20 (slots 1 scene, 2 camera, 3 viewport, 4 lamp,
// 5 scene file, 6 mesh, 7 body, 8 listener, 9 fixed body), then runs of pseudo-random
// operations after that world.
namespace sa {
enum : uint8_t {
  SCENE = 0, SET = 1, OBJECT = 2, METHOD = 3, PARENT = 5, DELETE = 6, OBJ_CB = 7, GLOBAL_CB = 8, VIEWPORT = 9,
  ASSIGN = 10, FETCH = 11, LINK = 12, ANIM = 13, MEDIA = 14, GC = 15, SLOT = 16, GLOBAL = 17, ANY_NEW = 18,
  CLEAR = 19, WORLD = 20, FRAME = 21, POINTER = 22, KEY = 23, RESIZE = 24, BONE = 25, NOPS = 26
};
// Object classes (opcode 2), in the driver's order.
enum : uint8_t { C_OBJECT, C_MESH, C_ANIMATED, C_BODY, C_SOUND, C_TEXT, C_LAMP, C_CAMERA, C_MIKE, C_IMAGE,
                 C_POLYLINE, C_VOLUME, C_LOCATOR };
// Callback ids (index into the driver's list) and return values.
enum : uint8_t { CB_UPDATE, CB_EVENT, CB_DOWN, CB_UP, CB_CLICK, CB_MOVED, CB_MECHA, CB_POST_INT, CB_PRE_COL,
                 CB_POST_COL, CB_ASPECT };
enum : uint8_t { RET_TRUE, RET_FALSE, RET_NIL };
// Names (index into the driver's list).
enum : uint8_t { N_FLOOR, N_CRATE, N_SMALL_CRATE, N_PILLAR, N_LAMP, N_SUN, N_CAMERA, N_BONE, N_SKIN, N_VOLUME,
                 N_SPIN, N_CHARACTER, N_SHOULDER, N_ELBOW, N_WRIST, N_CHARACTER_CAMERA, N_NOTHING, N_EMPTY,
                 N_ARM, N_DOOR, N_WAVE, N_DOOR_SWING, N_POST };
// Files (index into the driver's list).
enum : uint8_t { F_SCENE, F_CHARACTER, F_TONE, F_CLIP, F_SOUND_CLIP, F_IMAGE, F_MISSING, F_EMPTY, F_SCENE_AGAIN, F_INIT,
                 F_TEXTURED };
// Values (the driver's val()) are a kind byte and its operands: slot k is
// {1, k}, a name {10, name}.
using P = std::vector<uint8_t>;
P cat(std::initializer_list<P> parts) {
  P out;
  for (const P& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
P world(uint8_t file = 0, uint8_t mesh = 0) { return {WORLD, 0, file, mesh}; }
P frames(uint8_t n = 3, uint8_t dt = 0) { return {FRAME, uint8_t(n - 1), dt}; }
P pointer(uint8_t action, uint8_t x, uint8_t y) { return {POINTER, action, x, y}; }
// A click in the middle of the window (the camera looks at the world's
// origin there).
P click() { return cat({pointer(2, 80, 80), pointer(0, 80, 80), frames(1), pointer(1, 80, 80), frames(1)}); }
// A callback of `id` on the value in `slot` whose body is `body`.
P objCallback(uint8_t slot, uint8_t id, const P& body, uint8_t ret = RET_TRUE) {
  return cat({{OBJ_CB, slot, id, ret, uint8_t(body.size())}, body});
}
P globalCallback(uint8_t id, const P& body, uint8_t ret = RET_TRUE) {
  return cat({{GLOBAL_CB, id, 1, ret, uint8_t(body.size())}, body});
}
// The method of the given index in the class's sorted list, with values.
P method(uint8_t slot, uint8_t which, std::initializer_list<P> args, uint8_t store = 15) {
  P out = {METHOD, slot, which, uint8_t(args.size())};
  for (const P& a : args) out.insert(out.end(), a.begin(), a.end());
  out.push_back(store);
  return out;
}
P object(uint8_t cls, uint8_t parent, uint8_t store) { return {OBJECT, cls, parent, 1, store}; }
P del(uint8_t slot) { return {DELETE, slot}; }

std::vector<std::pair<std::string, P>> programs() {
  const uint8_t S = 0, CAM = 1, VP = 2, LAMP = 3, SETS = 4, MESH = 5, BODY = 6, MIKE = 7;
  std::vector<std::pair<std::string, P>> list = {
      {"world_frames", cat({{0}, world(), frames(4)})},
      {"world_client_arrays", cat({{1}, world(), frames(4)})},
      {"world_no_renderer", cat({{2}, world(), frames(4)})},
      {"world_no_sound", cat({{4}, world(), frames(4)})},
      {"character_frames", cat({{0}, world(3, 1), frames(4, 2)})},
      {"every_object_class", cat({{0}, world(), object(C_OBJECT, S, 8), object(C_MESH, S, 9), object(C_ANIMATED, S, 10),
                                  object(C_BODY, S, 11), object(C_SOUND, S, 12), object(C_TEXT, S, 13),
                                  object(C_LAMP, S, 14), object(C_CAMERA, S, 15), frames(2), object(C_MIKE, S, 8),
                                  object(C_IMAGE, S, 9), object(C_POLYLINE, S, 10), object(C_VOLUME, S, 11),
                                  object(C_LOCATOR, S, 12), frames(2)})},
      {"children_of_camera", cat({{0}, world(), object(C_TEXT, CAM, 8), object(C_IMAGE, CAM, 9),
                                  object(C_POLYLINE, CAM, 10), frames(2), del(CAM), frames(2)})},
      {"delete_parent", cat({{0}, world(), object(C_OBJECT, MESH, 8), object(C_LAMP, 8, 9), del(MESH), frames(2)})},
      {"delete_scene", cat({{0}, world(), frames(1), {CLEAR, S, 1}, frames(2)})},
      {"clear_scene", cat({{0}, world(), frames(1), {CLEAR, S, 0}, frames(2)})},
      {"delete_scene_file", cat({{0}, world(), {CLEAR, SETS}, frames(2)})},
      {"delete_camera_in_viewport", cat({{0}, world(), del(CAM), frames(2)})},
      {"delete_listener_in_viewport", cat({{0}, world(), del(MIKE), frames(2)})},
      {"delete_viewport", cat({{0}, world(), del(VP), frames(2)})},
      {"reparent_across", cat({{0}, world(), {PARENT, MESH, 1, LAMP}, {PARENT, LAMP, 1, CAM}, {PARENT, CAM, 0},
                               frames(2)})},
      {"reparent_cycle", cat({{0}, world(), {PARENT, LAMP, 1, MESH}, {PARENT, MESH, 1, LAMP}, frames(2)})},
      {"second_scene", cat({{0}, world(), {SCENE, 8}, object(C_MESH, 8, 9), {PARENT, 9, 1, MESH},
                            {ASSIGN, VP, CAM, 0}, frames(2)})},
      {"update_deletes_mesh", cat({{0}, world(), globalCallback(CB_UPDATE, del(MESH)), frames(3)})},
      {"update_clears_scene", cat({{0}, world(), globalCallback(CB_UPDATE, {CLEAR, S, 0}), frames(3)})},
      {"update_deletes_scene", cat({{0}, world(), globalCallback(CB_UPDATE, {CLEAR, S, 1}), frames(3)})},
      {"update_makes_objects", cat({{0}, world(), globalCallback(CB_UPDATE, object(C_BODY, S, 9)), frames(4)})},
      {"moved_deletes_self", cat({{0}, world(), objCallback(BODY, CB_MOVED, del(BODY)), frames(4)})},
      {"moved_deletes_parent", cat({{0}, world(), object(C_OBJECT, BODY, 8), objCallback(8, CB_MOVED, del(BODY)),
                                    frames(4)})},
      {"mecha_deletes_body", cat({{0}, world(), objCallback(S, CB_MECHA, del(BODY)), frames(3)})},
      {"pre_collision_clears", cat({{0}, world(), objCallback(S, CB_PRE_COL, {CLEAR, S, 0}, RET_FALSE), frames(4, 3)})},
      {"post_collision_deletes", cat({{0}, world(), objCallback(S, CB_POST_COL, del(MESH)), frames(4, 3)})},
      {"post_integration_gc", cat({{0}, world(), objCallback(S, CB_POST_INT, {GC, 0}), frames(3)})},
      {"click_mesh", cat({{0}, world(), objCallback(MESH, CB_DOWN, {}), objCallback(MESH, CB_CLICK, del(MESH)),
                          click(), frames(1)})},
      {"click_deletes_scene", cat({{0}, world(), objCallback(MESH, CB_DOWN, {CLEAR, S, 1}), click()})},
      {"mouse_up_deletes_viewport", cat({{0}, world(), objCallback(MESH, CB_UP, del(VP)), click()})},
      {"drag_body", cat({{0}, world(), method(BODY, 0, {}), pointer(0, 80, 80), pointer(2, 90, 90), frames(2),
                         pointer(2, 100, 70), frames(2), pointer(1, 100, 70)})},
      {"drag_then_delete", cat({{0}, world(), pointer(0, 80, 80), pointer(2, 90, 90), del(MESH), frames(1),
                                pointer(2, 95, 90), pointer(1, 95, 90), frames(1)})},
      {"right_drag_wheel", cat({{0}, world(), pointer(3, 80, 80), pointer(2, 60, 60), pointer(4, 60, 60),
                                pointer(5, 60, 60), frames(1), pointer(6, 0, 0)})},
      {"viewport_event_deletes", cat({{0}, world(), objCallback(VP, CB_EVENT, del(VP)), {KEY, 65, 1}, {KEY, 65, 0},
                                      pointer(5, 60, 60), frames(1)})},
      {"global_event", cat({{0}, world(), globalCallback(CB_EVENT, {CLEAR, S, 0}, RET_FALSE), {KEY, 32, 1},
                            frames(1)})},
      {"aspect_changes", cat({{0}, world(), globalCallback(CB_ASPECT, del(CAM)), {RESIZE, 200, 50}, frames(1),
                              {RESIZE, 10, 200}, frames(1)})},
      {"sound_and_listener", cat({{0}, world(), {MEDIA, 0, F_TONE, 0, 8}, {OBJECT, C_SOUND, MESH, 0, 1, 8, 9},
                                  frames(4, 2)})},
      {"sound_delete_sample", cat({{0}, world(), {MEDIA, 0, F_TONE, 0, 8}, {OBJECT, C_SOUND, MESH, 0, 1, 8, 9},
                                   frames(1), {CLEAR, 8}, frames(3)})},
      {"stream_plays", cat({{0}, world(), {MEDIA, 1, F_SOUND_CLIP, 0, 8}, frames(4, 4)})},
      {"stream_delete", cat({{0}, world(), {MEDIA, 1, F_CLIP, 1, 8}, frames(2), {CLEAR, 8}, frames(2)})},
      {"texture_and_image", cat({{0}, world(), {MEDIA, 2, F_IMAGE, 0, 8}, object(C_IMAGE, S, 9), frames(2),
                                 {CLEAR, 8}, frames(2)})},
      {"textured_scene_file", cat({{0}, world(), {SET, F_TEXTURED, 8}, {FETCH, 8, N_CRATE, 0, 9}, {OBJECT, C_MESH, S, 0, 1, 9, 10},
                                   frames(2),
                                   {CLEAR, 8}, frames(2)})},
      {"font_missing", cat({{0}, world(), {MEDIA, 3, F_MISSING, 0, 8}, object(C_TEXT, S, 9), frames(2)})},
      {"spring_between_bodies", cat({{0}, world(), object(C_BODY, S, 8), {LINK, BODY, 8, 128, 128, 144, 128, 128, 112,
                                                                           0, 9}, frames(4, 2)})},
      {"joint_delete_body", cat({{0}, world(), object(C_BODY, S, 8), {LINK, BODY, 8, 128, 128, 144, 128, 128, 112,
                                                                       1, 2, 9}, frames(1), del(8), frames(3)})},
      {"animation_plays", cat({{0}, world(), {FETCH, SETS, N_SPIN, 0, 8}, {ANIM, MESH, SETS, N_SPIN, 9},
                               frames(4, 2)})},
      {"animation_target_deleted", cat({{0}, world(), {ANIM, MESH, SETS, N_SPIN, 9}, frames(1), del(MESH),
                                        frames(2)})},
      {"skin_bone_moves", cat({{0}, world(0, 1), {FETCH, SETS, N_WRIST, 0, 8},
                               {BONE, 8, 120, 130, 140, 150, 160, 170, 1}, frames(2), {BONE, 8, 0, 0, 0, 0, 0, 0, 0},
                               frames(1)})},
      {"character_wave", cat({{0}, world(3, 0), {ANIM, MESH, SETS, N_WAVE, 9}, frames(4, 2)})},
      {"character_ik", cat({{0}, world(3, 1), {BONE, MESH, 130, 120, 150, 160, 100, 170, 1, N_WRIST, 8},
                            frames(2), {BONE, 8, 130, 120, 150, 100, 170, 100, 1}, frames(2)})},
      {"bone_moved_deletes_mesh", cat({{0}, world(3, 1), {BONE, MESH, 0, 0, 0, 0, 0, 0, 1, N_ELBOW, 8},
                                       objCallback(8, CB_MOVED, del(MESH)), {BONE, 8, 130, 120, 150, 100, 170, 100, 1},
                                       frames(2)})},
      {"locator_and_volume", cat({{0}, world(), object(C_LOCATOR, S, 8), object(C_VOLUME, BODY, 9), frames(3)})},
      {"text_on_viewport", cat({{0}, world(), object(C_TEXT, S, 8), method(8, 40, {{10, N_CRATE}}), frames(2)})},
      {"any_constructor", cat({{0}, world(), {ANY_NEW, 5, 2, 1, CAM, 9, F_SCENE, 8}, {ANY_NEW, 20, 0, 9},
                               {ANY_NEW, 24, 1, 1, MESH, 10}, frames(2)})},
      {"globals", cat({{0}, world(), {GLOBAL, 12, 0, 8}, {GLOBAL, 16, 0}, {GLOBAL, 14, 1, 11, 1, 2, 3},
                       {GLOBAL, 17, 0}, {GLOBAL, 20, 0}, frames(2)})},
      {"viewports_share_camera", cat({{0}, world(), {VIEWPORT, 2, 2, 1, 1, CAM, MIKE, 8}, frames(1), del(2),
                                      frames(1), del(CAM), frames(1)})},
      {"gc_of_handles", cat({{0}, world(), {SLOT, MESH, 0, 0}, {SLOT, BODY, 0, 0}, {GC, 0}, frames(2),
                             {FETCH, S, N_CRATE, 1, 8}, frames(1)})},
  };
  // Pseudo-random programs after the world: operations in range, operand
  // bytes anywhere.
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return uint8_t(seed >> 16);
  };
  for (int n = 0; n < 24; n++) {
    P p = cat({{uint8_t(n % 3 == 2 ? 1 : 0)}, world(uint8_t(n % 4), uint8_t(n % 5 < 2))});
    for (int i = 0; i < 40; i++) {
      uint8_t op = uint8_t(next() % NOPS);
      p.push_back(op);
      int operands = 1 + next() % 6;
      for (int k = 0; k < operands; k++) p.push_back(uint8_t(next() % 16));
      if (i % 8 == 7) {
        P f = frames(2);
        p.insert(p.end(), f.begin(), f.end());
      }
    }
    list.push_back({"random" + std::to_string(n), p});
  }
  return list;
}
}  // namespace sa

bool scriptApiCorpus(const fs::path& dir) {
  bool ok = true;
  for (const auto& [name, program] : sa::programs())
    ok = writeText(dir / name, std::string(program.begin(), program.end())) && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--corpus") {
    fs::path dir = argv[2];
    bool ok = chunkCorpus(dir / "chunk");
    ok = ioCorpus(dir / "io") && ok;
    ok = fontCorpus(dir / "font") && ok;
    ok = configCorpus(dir / "config") && ok;
    ok = scriptApiCorpus(dir / "script_api") && ok;
    return ok ? 0 : 1;
  }
  if (argc != 2) {
    fprintf(stderr, "usage: make_fuzz_seeds DIR | make_fuzz_seeds --corpus DIR\n");
    return 2;
  }
  fs::path dir = fs::path(argv[1]) / "package";
  std::error_code ec;
  fs::create_directories(dir, ec);

  struct Seed {
    const char* name;
    std::vector<PackEntry> entries;
    bool store;
  };
  std::vector<Seed> seeds = {
      {"stored", {{"config.xml", bytesOf(kConfig)}, {"init.lua", bytesOf("print('hi')\n")}}, true},
      {"deflated", {{"config.xml", bytesOf(kConfig + std::string(200, ' '))}, {"data/a.txt", bytesOf(std::string(300, 'a'))}}, false},
      {"nerl", {{"config.xml", bytesOf("<nerl><version major=\"0\" minor=\"9\" patch=\"9\"/></nerl>\n")}}, true},
      {"newer", {{"config.xml", bytesOf("<kolma><version major=\"1\" minor=\"6\" patch=\"5\"/></kolma>\n")}}, true},
      {"no_newline", {{"config.xml", bytesOf("<kolma><version/></kolma>")}}, true},
      {"empty_config", {{"config.xml", PackBytes()}}, true},
      {"broken_xml", {{"config.xml", bytesOf("<kolma><version major=\"1\"></kolma>\n")}}, true},
  };
  PackKey key;
  std::string error;
  if (!PACK_readKey(HALVORIN_KEY_FILE, &key, &error)) {
    fprintf(stderr, "make_fuzz_seeds: %s\n", error.c_str());
    return 1;
  }
  for (const Seed& s : seeds) {
    PackBytes records, package;
    if (!PACK_makeRecords(s.entries, s.store, &records, &error) || !PACK_sealPackage(records, key, &package, &error)) {
      fprintf(stderr, "make_fuzz_seeds: %s\n", error.c_str());
      return 1;
    }
    PackBytes plain = records;
    plain.insert(plain.end(), package.end() - 128, package.end());
    if (!write(dir / (std::string(s.name) + ".records"), plain) || !write(dir / (std::string(s.name) + ".pkg"), package))
      return 1;
  }
  // A record with an unknown compression method.
  PackBytes odd;
  PACK_appendRecord(&odd, "config.xml", 12, bytesOf(kConfig), uint32_t(kConfig.size()));
  odd.insert(odd.end(), 128, 0);
  return write(dir / "bad_method.records", odd) ? 0 : 1;
}
