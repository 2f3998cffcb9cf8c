#include "SG_SceneWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>

std::string SG_iHex(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2 + n / 32);
    for (size_t i = 0; i < n; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
        if (i % 32 == 31) out += '\n';
    }
    return out;
}

std::string SG_iHexReals(const std::vector<double>& values, int size)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * size);
    for (double v : values) {
        uint8_t b[8];
        if (size == 4) {
            float f = float(v);
            std::memcpy(b, &f, 4);
        } else {
            std::memcpy(b, &v, 8);
        }
        bytes.insert(bytes.end(), b, b + size);
    }
    return SG_iHex(bytes.data(), bytes.size());
}

std::string SG_iHexIndices(const std::vector<uint32_t>& values, int size)
{
    std::vector<uint8_t> bytes;
    for (uint32_t v : values) {
        for (int i = 0; i < size; i++) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    return SG_iHex(bytes.data(), bytes.size());
}

static std::string SG_iNumbers(const std::vector<double>& v)
{
    std::string out;
    char buf[32];
    for (size_t i = 0; i < v.size(); i++) {
        std::snprintf(buf, sizeof buf, "%s%.17g", i ? " " : "", v[i]);
        out += buf;
    }
    return out;
}

static std::string SG_iEscape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

static void SG_iChild(std::string& out, const char* name, const std::string& text)
{
    out += "   <";
    out += name;
    out += ">";
    out += text;
    out += "</";
    out += name;
    out += ">\n";
}

std::string SG_iWriteScene(const SG_Scene& s)
{
    std::string out = "<?xml version=\"1.0\"?>\n";
    char buf[128];
    if (!s.textures.empty()) {
        out += "<textures>\n";
        for (const SG_Texture& t : s.textures) {
            std::snprintf(buf, sizeof buf, "%zu", t.bytes.size());
            out += " <texture name=\"" + SG_iEscape(t.name) + "\" size=\"" + buf + "\"";
            if (!t.filter.empty()) out += " filter=\"" + SG_iEscape(t.filter) + "\"";
            out += ">\n" + SG_iHex(t.bytes.data(), t.bytes.size()) + "</texture>\n";
        }
        out += "</textures>\n";
    }
    if (!s.materials.empty()) {
        out += "<materials>\n";
        for (const SG_Material& m : s.materials) {
            out += " <material name=\"" + SG_iEscape(m.name) + "\">\n";
            if (!m.ambient.empty()) SG_iChild(out, "ambient", SG_iNumbers(m.ambient));
            if (!m.diffuse.empty()) SG_iChild(out, "diffuse", SG_iNumbers(m.diffuse));
            if (!m.specular.empty()) SG_iChild(out, "specular", SG_iNumbers(m.specular));
            if (!m.shininess.empty()) SG_iChild(out, "shininess", SG_iNumbers(m.shininess));
            if (!m.alpha.empty()) SG_iChild(out, "alpha", SG_iNumbers(m.alpha));
            if (m.shadeless >= 0) SG_iChild(out, "shadeless", std::to_string(m.shadeless));
            if (m.mirror >= 0) SG_iChild(out, "mirror", std::to_string(m.mirror));
            if (m.castShadows >= 0) SG_iChild(out, "cast_shadows", std::to_string(m.castShadows));
            for (const std::string& t : m.textures) SG_iChild(out, "texture", SG_iEscape(t));
            for (const auto& c : m.colors) SG_iChild(out, "color", SG_iNumbers(c));
            out += " </material>\n";
        }
        out += "</materials>\n";
    }
    if (!s.meshes.empty()) {
        out += "<meshes>\n";
        for (const SG_Mesh& m : s.meshes) {
            out += " <mesh name=\"" + SG_iEscape(m.name) + "\">\n";
            SG_iChild(out, "min", SG_iNumbers({m.min[0], m.min[1], m.min[2]}));
            SG_iChild(out, "max", SG_iNumbers({m.max[0], m.max[1], m.max[2]}));
            if (m.doubleSided) SG_iChild(out, "double_sided", "1");
            auto array = [&](const char* name, size_t count, int size, const std::string& hex) {
                std::snprintf(buf, sizeof buf, "   <%s count=\"%zu\" size=\"%d\">\n", name, count, size);
                out += buf;
                out += hex;
                out += "</";
                out += name;
                out += ">\n";
            };
            array("vertices", m.positions.size() / 3, m.realSize, SG_iHexReals(m.positions, m.realSize));
            if (!m.normals.empty())
                array("normals", m.normals.size() / 3, m.realSize, SG_iHexReals(m.normals, m.realSize));
            if (!m.uvs.empty()) array("uvs", m.uvs.size() / 2, m.realSize, SG_iHexReals(m.uvs, m.realSize));
            if (!m.colors.empty()) {
                std::snprintf(buf, sizeof buf, "   <colors count=\"%zu\">", m.colors.size() / 4);
                out += buf;
                out += SG_iHex(m.colors.data(), m.colors.size()) + "</colors>\n";
            }
            array("triangles", m.triangles.size() / 3, m.indexSize, SG_iHexIndices(m.triangles, m.indexSize));
            if (!m.neighbours.empty())
                array("neighbours", m.neighbours.size() / 3, m.indexSize, SG_iHexIndices(m.neighbours, m.indexSize));
            out += " </mesh>\n";
        }
        out += "</meshes>\n";
    }
    if (!s.groups.empty()) {
        out += "<animated_meshes>\n";
        for (const SG_VertexGroup& g : s.groups) {
            out += " <animated_mesh name=\"" + SG_iEscape(g.name) + "\">\n";
            std::vector<uint32_t> v(g.vertices.begin(), g.vertices.end());
            std::snprintf(buf, sizeof buf, "   <vertices count=\"%zu\" size=\"%d\">", v.size(), g.indexSize);
            out += buf + SG_iHexIndices(v, g.indexSize) + "</vertices>\n";
            std::snprintf(buf, sizeof buf, "   <weights count=\"%zu\" size=\"8\">", g.weights.size());
            out += buf + SG_iHexReals(g.weights, 8) + "</weights>\n";
            out += " </animated_mesh>\n";
        }
        out += "</animated_meshes>\n";
    }
    if (!s.animations.empty()) {
        out += "<animations>\n";
        for (const SG_Animation& a : s.animations) {
            out += " <animation name=\"" + SG_iEscape(a.name) + "\">\n";
            std::snprintf(buf, sizeof buf, "  <keys count=\"%zu\">\n", a.keys.size());
            out += buf;
            for (const SG_Key& k : a.keys) {
                std::snprintf(buf, sizeof buf, "   <key time=\"%.17g\">\n", k.time);
                out += buf;
                SG_iChild(out, "location", SG_iNumbers({k.location[0], k.location[1], k.location[2]}));
                SG_iChild(out, "rotation", SG_iNumbers({k.rotation[0], k.rotation[1], k.rotation[2]}));
                SG_iChild(out, "scale", SG_iNumbers({k.scale[0], k.scale[1], k.scale[2]}));
                out += "   </key>\n";
            }
            out += "  </keys>\n </animation>\n";
        }
        out += "</animations>\n";
    }
    if (!s.objects.empty()) {
        out += "<objects>\n";
        for (const SG_Object& o : s.objects) {
            out += " <object type=\"" + SG_iEscape(o.type) + "\"";
            if (!o.name.empty()) out += " name=\"" + SG_iEscape(o.name) + "\"";
            out += ">\n";
            if (!o.volumeType.empty()) SG_iChild(out, "volume_type", SG_iEscape(o.volumeType));
            if (o.matrix.size() == 16) SG_iChild(out, "matrix", SG_iNumbers(o.matrix));
            if (!o.parent.empty()) SG_iChild(out, "parent", SG_iEscape(o.parent));
            if (!o.mesh.empty()) SG_iChild(out, "mesh", SG_iEscape(o.mesh));
            if (!o.material.empty()) SG_iChild(out, "material", SG_iEscape(o.material));
            out += o.extra;
            if (!o.bindings.empty()) {
                out += "   <animated_meshes>\n";
                for (const auto& b : o.bindings)
                    out += "    <animated_mesh>" + SG_iEscape(b.first) + "<bone>" + SG_iEscape(b.second) +
                           "</bone></animated_mesh>\n";
                out += "   </animated_meshes>\n";
            }
            out += " </object>\n";
        }
        out += "</objects>\n";
    }
    return out;
}

void SG_iFitBox(SG_Mesh& m)
{
    for (int k = 0; k < 3; k++) {
        m.min[k] = m.positions.empty() ? 0 : m.positions[k];
        m.max[k] = m.min[k];
    }
    for (size_t i = 0; i + 2 < m.positions.size(); i += 3)
        for (int k = 0; k < 3; k++) {
            if (m.positions[i + k] < m.min[k]) m.min[k] = m.positions[i + k];
            if (m.positions[i + k] > m.max[k]) m.max[k] = m.positions[i + k];
        }
}

SG_Mesh SG_iMakeGrid(const std::string& name, int nx, int ny, double size)
{
    SG_Mesh m;
    m.name = name;
    for (int y = 0; y <= ny; y++)
        for (int x = 0; x <= nx; x++) {
            m.positions.insert(m.positions.end(), {size * (double(x) / nx - 0.5), size * (double(y) / ny - 0.5), 0.0});
            m.normals.insert(m.normals.end(), {0.0, 0.0, 1.0});
            m.uvs.insert(m.uvs.end(), {double(x) / nx, double(y) / ny});
        }
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            uint32_t a = uint32_t(y * (nx + 1) + x), b = a + 1, c = a + uint32_t(nx + 1), d = c + 1;
            m.triangles.insert(m.triangles.end(), {a, b, d, a, d, c});
        }
    SG_iFitBox(m);
    return m;
}

SG_Mesh SG_iMakeBox(const std::string& name, double hx, double hy, double hz)
{
    SG_Mesh m;
    m.name = name;
    // Each face: outward normal n and two in-plane axes u, v with u x v = n.
    const double faces[6][9] = {
        {1, 0, 0, 0, 1, 0, 0, 0, 1},  {-1, 0, 0, 0, 0, 1, 0, 1, 0}, {0, 1, 0, 0, 0, 1, 1, 0, 0},
        {0, -1, 0, 1, 0, 0, 0, 0, 1}, {0, 0, 1, 1, 0, 0, 0, 1, 0},  {0, 0, -1, 0, 1, 0, 1, 0, 0},
    };
    const double h[3] = {hx, hy, hz};
    for (int f = 0; f < 6; f++) {
        const double* n = faces[f];
        const double* u = faces[f] + 3;
        const double* v = faces[f] + 6;
        uint32_t base = uint32_t(m.positions.size() / 3);
        const double corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            for (int k = 0; k < 3; k++) m.positions.push_back((n[k] + c[0] * u[k] + c[1] * v[k]) * h[k]);
            m.normals.insert(m.normals.end(), {n[0], n[1], n[2]});
            m.uvs.insert(m.uvs.end(), {(c[0] + 1) / 2, (c[1] + 1) / 2});
        }
        m.triangles.insert(m.triangles.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
    }
    SG_iFitBox(m);
    return m;
}

SG_Mesh SG_iMakeSphere(const std::string& name, double radius, int rings, int segments)
{
    SG_Mesh m;
    m.name = name;
    const double pi = 3.14159265358979323846;
    for (int r = 0; r <= rings; r++) {
        double polar = pi * r / rings;
        for (int s = 0; s <= segments; s++) {
            double around = 2 * pi * s / segments;
            double n[3] = {std::sin(polar) * std::cos(around), std::sin(polar) * std::sin(around), std::cos(polar)};
            for (double c : n) m.positions.push_back(c * radius);
            m.normals.insert(m.normals.end(), {n[0], n[1], n[2]});
            m.uvs.insert(m.uvs.end(), {double(s) / segments, 1.0 - double(r) / rings});
        }
    }
    for (int r = 0; r < rings; r++)
        for (int s = 0; s < segments; s++) {
            uint32_t a = uint32_t(r * (segments + 1) + s), b = a + 1, c = a + uint32_t(segments + 1), d = c + 1;
            // Counter-clockwise seen from outside; the pole rows lose one of the two.
            if (r != 0) m.triangles.insert(m.triangles.end(), {a, c, b});
            if (r != rings - 1) m.triangles.insert(m.triangles.end(), {b, c, d});
        }
    SG_iFitBox(m);
    return m;
}

std::vector<double> SG_iTranslation(double x, double y, double z, double s)
{
    return {s, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, x, y, z, 1};
}
