// docs/scripting.md against the running engine: every global function,
// constant, class method and value-type method that the engine registers is
// listed there, nothing is listed that it does not register, and every
// constant has its value.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "script_rig.h"

namespace {

using Names = std::set<std::string>;

// What the reference lists: tables whose first cell holds the names in
// backticks, sorted by the section they stand in.
struct Reference {
  Names functions;                    // "## Global functions"
  std::map<std::string, std::string> constants;  // "## Constants": name -> value cell
  std::map<std::string, Names> types;            // "## Value types", "### v3" ...
  std::map<std::string, Names> classes;          // "## Classes", "### newMesh" ...
  Names objectClasses;                // class sections that say "An object class"
  Names objectMethods;                // "### Object methods"
};

std::vector<std::string> cells(const std::string& row) {
  std::vector<std::string> out;
  std::string cell;
  for (size_t i = 1; i < row.size(); i++) {
    if (row[i] == '|') {
      out.push_back(cell);
      cell.clear();
    } else {
      cell += row[i];
    }
  }
  return out;
}

Names backticked(const std::string& text) {
  Names out;
  static const std::regex name("`([A-Za-z_][A-Za-z0-9_]*)`");
  for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) out.insert((*it)[1]);
  return out;
}

Reference readReference(const std::string& path) {
  Reference ref;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::string line, chapter, section;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      chapter = line.substr(3);
      section.clear();
      continue;
    }
    if (line.rfind("### ", 0) == 0) {
      Names n = backticked(line);
      section = n.empty() ? line.substr(4) : *n.begin();
      if (chapter == "Classes" && section.rfind("new", 0) == 0) ref.classes[section];
      if (chapter == "Value types") ref.types[section];
      continue;
    }
    if (chapter == "Classes" && section.rfind("new", 0) == 0 && line.rfind("An object class", 0) == 0)
      ref.objectClasses.insert(section);
    if (line.rfind("|", 0) != 0 || line.rfind("|---", 0) == 0) continue;
    std::vector<std::string> row = cells(line);
    if (row.empty()) continue;
    if (chapter == "Global functions") {
      for (const std::string& n : backticked(row[0])) ref.functions.insert(n);
    } else if (chapter == "Constants") {
      for (size_t i = 0; i + 1 < row.size(); i += 2)
        for (const std::string& n : backticked(row[i])) ref.constants[n] = row[i + 1];
    } else if (chapter == "Value types" && ref.types.count(section)) {
      for (const std::string& n : backticked(row[0])) ref.types[section].insert(n);
    } else if (chapter == "Classes" && section == "Object methods") {
      for (const std::string& n : backticked(row[0])) ref.objectMethods.insert(n);
    } else if (chapter == "Classes" && ref.classes.count(section)) {
      for (const std::string& n : backticked(row[0])) ref.classes[section].insert(n);
    }
  }
  return ref;
}

// The keys of the table on top of the stack whose values have the given type.
Names keysOfType(lua_State* L, int type) {
  Names out;
  lua_pushnil(L);
  while (lua_next(L, -2)) {
    if (lua_type(L, -2) == LUA_TSTRING && (type == LUA_TNONE || lua_type(L, -1) == type))
      out.insert(lua_tostring(L, -2));
    lua_pop(L, 1);
  }
  return out;
}

// The globals a plain Lua state has: the language's own libraries.
Names stockGlobals() {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  lua_pushglobaltable(L);
  Names out = keysOfType(L, LUA_TNONE);
  lua_close(L);
  return out;
}

std::string missing(const Names& want, const Names& have) {
  std::string out;
  for (const std::string& n : want)
    if (!have.count(n)) out += " " + n;
  return out;
}

TEST(ScriptReference, ListsExactlyWhatTheEngineRegisters) {
  Reference ref = readReference(std::string(HALVORIN_SOURCE_DIR) + "/docs/scripting.md");
  ScriptRig rig;
  lua_State* L = rig.L;
  const Names stock = stockGlobals();

  lua_pushglobaltable(L);
  Names functions, classes, constants;
  for (const std::string& n : keysOfType(L, LUA_TFUNCTION))
    if (!stock.count(n)) functions.insert(n);
  for (const std::string& n : keysOfType(L, LUA_TTABLE))
    if (!stock.count(n)) classes.insert(n);
  for (const std::string& n : keysOfType(L, LUA_TNUMBER)) constants.insert(n);
  lua_pop(L, 1);

  // Global functions; the value types' constructors are documented with them.
  Names typeNames;
  for (const auto& [name, methods] : ref.types) typeNames.insert(name);
  Names plainFunctions;
  for (const std::string& n : functions)
    if (!typeNames.count(n)) plainFunctions.insert(n);
  EXPECT_EQ(missing(plainFunctions, ref.functions), "") << "global functions not in the reference";
  EXPECT_EQ(missing(ref.functions, plainFunctions), "") << "global functions the engine lacks";
  EXPECT_EQ(missing(typeNames, functions), "") << "value types without a constructor";

  // Constants, with their values.
  Names documented;
  for (const auto& [name, value] : ref.constants) documented.insert(name);
  EXPECT_EQ(missing(constants, documented), "") << "constants not in the reference";
  EXPECT_EQ(missing(documented, constants), "") << "constants the engine lacks";
  for (const auto& [name, value] : ref.constants) {
    lua_getglobal(L, name.c_str());
    if (lua_type(L, -1) == LUA_TNUMBER) {
      std::string text = value.substr(value.find_first_not_of(' '));
      text = text.substr(0, text.find_last_not_of(' ') + 1);
      EXPECT_EQ(std::stod(text), lua_tonumber(L, -1)) << name;
    }
    lua_pop(L, 1);
  }

  // Value types: the methods and operators of each metatable.
  EXPECT_EQ(ref.types.size(), 4u);
  for (const auto& [name, methods] : ref.types) {
    luaL_getmetatable(L, name.c_str());
    ASSERT_TRUE(lua_istable(L, -1)) << name;
    Names live = keysOfType(L, LUA_TFUNCTION);
    lua_pop(L, 1);
    EXPECT_EQ(missing(live, methods), "") << name << ": methods not in the reference";
    EXPECT_EQ(missing(methods, live), "") << name << ": methods the type lacks";
  }

  // Classes: each one's methods are its own list plus, for object classes,
  // the object methods.
  Names documentedClasses;
  for (const auto& [name, methods] : ref.classes) documentedClasses.insert(name);
  EXPECT_EQ(missing(classes, documentedClasses), "") << "classes not in the reference";
  EXPECT_EQ(missing(documentedClasses, classes), "") << "classes the engine lacks";
  EXPECT_FALSE(ref.objectMethods.empty());
  for (const auto& [name, own] : ref.classes) {
    lua_getglobal(L, name.c_str());
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      continue;
    }
    Names live = keysOfType(L, LUA_TFUNCTION);
    lua_pop(L, 1);
    live.erase("new");
    Names listed = own;
    if (ref.objectClasses.count(name) || name == "newObject") listed.insert(ref.objectMethods.begin(), ref.objectMethods.end());
    EXPECT_EQ(missing(live, listed), "") << name << ": methods not in the reference";
    EXPECT_EQ(missing(listed, live), "") << name << ": methods the class lacks";
  }
}

// The test above must be able to fail: a reference with a name the engine
// lacks and without one it has is caught.
TEST(ScriptReference, ReaderSeesTheTables) {
  std::string path = ::testing::TempDir() + "/reference.md";
  std::ofstream(path) << "## Global functions\n\n| function | x |\n|---|---|\n| `isKeyPressed` | a |\n| `noSuchThing` | b |\n"
                         "## Constants\n\n| name | value | name | value |\n|---|---|---|---|\n| `KEY_A` | 65 | `CB_MAX` | 11 |\n"
                         "## Classes\n\n### Object methods\n\n| `delete` | |\n\n### `newLocator`\n\nAn object class.\n\n"
                         "### newFont\n\n| `delete` | |\n| `getName` | |\n";
  Reference ref = readReference(path);
  EXPECT_EQ(ref.functions, (Names{"isKeyPressed", "noSuchThing"}));
  EXPECT_EQ(ref.constants.at("CB_MAX"), " 11 ");
  EXPECT_EQ(ref.constants.size(), 2u);
  EXPECT_EQ(ref.objectMethods, Names{"delete"});
  EXPECT_EQ(ref.objectClasses, Names{"newLocator"});
  EXPECT_EQ(ref.classes.at("newFont"), (Names{"delete", "getName"}));
}

}  // namespace
