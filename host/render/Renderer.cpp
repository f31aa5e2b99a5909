#include "host/render/Renderer.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <set>
#include <thread>

#include "host/render/ShaderNode.h"

namespace host::render {
namespace {

// Sub-pixel positions of the anti-aliasing rays: the Halton points of bases 2 and 3, the first
// one at the pixel's centre.
double halton(int index, int base) {
    double f = 1.0, r = 0.0;
    for (int i = index; i > 0; i /= base) {
        f /= base;
        r += f * (i % base);
    }
    return r;
}

// Half the width of a wireframe line, in pixels.
constexpr double kWireHalfWidth = 0.6;
constexpr double kWireOpacity = 0.85;

double segmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double l2 = dx * dx + dy * dy;
    double t = l2 > 0.0 ? ((px - ax) * dx + (py - ay) * dy) / l2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = ax + t * dx - px, ey = ay + t * dy - py;
    return std::sqrt(ex * ex + ey * ey);
}

int threadCount(int asked) {
    if (asked > 0) return asked;
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace

std::vector<Light> defaultLights(const Camera& camera) {
    const V3 back = -camera.forward();
    const V3 key = normalized(camera.right() * -0.55 + camera.up() * 0.6 + back * 0.6);
    const V3 fill = normalized(camera.right() * 0.7 + camera.up() * -0.2 + back * 0.7);
    return {{key, 0.85}, {fill, 0.3}};
}

Bitmap Image::toBitmap() const {
    Bitmap b;
    if (!b.init(std::max(width, 1), std::max(height, 1), 3, 8)) return b;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const float v = rgb[3 * (static_cast<size_t>(y) * width + x) + c];
                b.set8(x, y, c, static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)));
            }
    return b;
}

struct Scene::Kernel {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    bool committed = false;
    ~Kernel() {
        if (scene) rtcReleaseScene(scene);
        if (device) rtcReleaseDevice(device);
    }
};

Scene::Scene() : kernel_(std::make_unique<Kernel>()) {}
Scene::~Scene() = default;

void Scene::add(const PolygonObject& object, const Material* material) {
    auto ro = std::make_unique<RenderObject>();
    ro->build(object, material ? material : &plain_);
    if (ro->trianglePolygon.empty()) return;
    objects_.push_back(std::move(ro));
    kernel_->committed = false;
}

Bounds Scene::bounds() const {
    Bounds b;
    for (const auto& o : objects_) b.grow(o->bounds);
    return b;
}

bool Scene::commit(std::string* error) {
    Kernel& k = *kernel_;
    if (!k.device) k.device = rtcNewDevice(nullptr);
    if (!k.device) {
        if (error) *error = "the ray kernel could not start";
        return false;
    }
    if (k.scene) rtcReleaseScene(k.scene);
    k.scene = rtcNewScene(k.device);
    rtcSetSceneBuildQuality(k.scene, RTC_BUILD_QUALITY_HIGH);
    for (size_t i = 0; i < objects_.size(); ++i) {
        const RenderObject& o = *objects_[i];
        RTCGeometry g = rtcNewGeometry(k.device, RTC_GEOMETRY_TYPE_TRIANGLE);
        const size_t np = o.points.size() / 3, nt = o.trianglePolygon.size();
        // The kernel reads vertices 16 bytes at a time: one float of room after the last.
        auto* v = static_cast<float*>(
            rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), np + 1));
        auto* t = static_cast<unsigned*>(
            rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), nt));
        if (!v || !t) {
            rtcReleaseGeometry(g);
            if (error) *error = "the ray kernel is out of memory";
            return false;
        }
        std::copy(o.points.begin(), o.points.end(), v);
        v[3 * np] = v[3 * np + 1] = v[3 * np + 2] = 0.0f;
        std::copy(o.triangles.begin(), o.triangles.end(), t);
        rtcCommitGeometry(g);
        rtcAttachGeometryByID(k.scene, g, static_cast<unsigned>(i));
        rtcReleaseGeometry(g);
    }
    rtcCommitScene(k.scene);
    if (rtcGetDeviceError(k.device) != RTC_ERROR_NONE) {
        if (error) *error = "the ray kernel could not build the scene";
        return false;
    }
    k.committed = true;
    return true;
}

namespace {

// Everything one render thread needs, shared read-only.
struct Job {
    const Scene* scene;
    RTCScene rtc;
    const Camera* camera;
    const RenderSettings* settings;
    std::vector<Light> lights;
    double epsilon;
};

struct Counters {
    uint64_t primary = 0, shadow = 0;
};

// The ray kernel takes only rays whose origin and direction lie within about ±1.8e18 (it asserts
// on others): anything beyond, from a camera placed absurdly far or a point that far away, is
// traced as a ray that meets nothing.
constexpr double kTraceableLimit = 1.8e18;
bool traceable(const V3& origin, const V3& dir) {
    for (double c : {origin.x, origin.y, origin.z, dir.x, dir.y, dir.z})
        if (!(std::fabs(c) <= kTraceableLimit)) return false;
    return true;
}

bool occluded(RTCScene scene, const V3& origin, const V3& dir, double tnear) {
    if (!traceable(origin, dir) || !(tnear >= 0 && tnear <= kTraceableLimit)) return false;
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    RTCRay r;
    r.org_x = float(origin.x);
    r.org_y = float(origin.y);
    r.org_z = float(origin.z);
    r.dir_x = float(dir.x);
    r.dir_y = float(dir.y);
    r.dir_z = float(dir.z);
    r.tnear = float(tnear);
    r.tfar = INFINITY;
    r.time = 0.0f;
    r.mask = 0xFFFFFFFFu;
    r.id = 0;
    r.flags = 0;
    rtcOccluded1(scene, &ctx, &r);
    return r.tfar < 0.0f;
}

// What a primary ray met: the object (or RTC_INVALID_GEOMETRY_ID), the triangle and its weights.
struct Hit {
    unsigned geomID = RTC_INVALID_GEOMETRY_ID;
    unsigned primID = 0;
    float u = 0.0f, v = 0.0f;
};

// Up to eight primary rays in one packet through the kernel: rays of neighbouring pixels travel
// the same way through the scene, so the kernel visits each node once for all of them.
void tracePacket(RTCScene scene, const V3* origins, const V3* dirs, int count, Hit* hits) {
    alignas(32) int valid[8];
    alignas(32) RTCRayHit8 rh;
    for (int i = 0; i < 8; ++i) {
        const int k = i < count ? i : 0;
        valid[i] = i < count && traceable(origins[k], dirs[k]) ? -1 : 0;
        rh.ray.org_x[i] = float(origins[k].x);
        rh.ray.org_y[i] = float(origins[k].y);
        rh.ray.org_z[i] = float(origins[k].z);
        rh.ray.dir_x[i] = float(dirs[k].x);
        rh.ray.dir_y[i] = float(dirs[k].y);
        rh.ray.dir_z[i] = float(dirs[k].z);
        rh.ray.tnear[i] = 0.0f;
        rh.ray.tfar[i] = INFINITY;
        rh.ray.time[i] = 0.0f;
        rh.ray.mask[i] = 0xFFFFFFFFu;
        rh.ray.id[i] = 0;
        rh.ray.flags[i] = 0;
        rh.hit.geomID[i] = RTC_INVALID_GEOMETRY_ID;
        rh.hit.instID[0][i] = RTC_INVALID_GEOMETRY_ID;
    }
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    ctx.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
    rtcIntersect8(valid, scene, &ctx, &rh);
    for (int i = 0; i < count; ++i) hits[i] = {rh.hit.geomID[i], rh.hit.primID[i], rh.hit.u[i], rh.hit.v[i]};
}

// The colour of a primary ray that met `hit` (the background when it met nothing).
V3 shade(const Job& job, const V3& dir, const Hit& hit, double px, double py, Counters& count) {
    if (hit.geomID == RTC_INVALID_GEOMETRY_ID) return job.settings->background;
    const RenderObject& ro = *job.scene->objects()[hit.geomID];
    const int32_t tri = static_cast<int32_t>(hit.primID);
    const int32_t polygon = ro.trianglePolygon[tri];
    const bool second = ro.triangleSecond[tri] != 0;
    const double bu = hit.u, bv = hit.v, b0 = 1.0 - bu - bv;
    // Corners of the kernel's triangle: a, b, c or a quad's second a, c, d.
    const int k1 = second ? 2 : 1, k2 = second ? 3 : 2;
    const HostPolygon& p = ro.polygons[polygon];
    const int32_t corner[4] = {p.a, p.b, p.c, p.d};
    const V3 pa = ro.point(corner[0]), p1 = ro.point(corner[k1]), p2 = ro.point(corner[k2]);
    const V3 position = pa * b0 + p1 * bu + p2 * bv;
    V3 ng = normalized(cross(p1 - pa, p2 - pa));
    auto cornerNormal = [&](int k) {
        const float* s = &ro.cornerNormals[12 * polygon + 3 * k];
        return V3{s[0], s[1], s[2]};
    };
    V3 n = normalized(cornerNormal(0) * b0 + cornerNormal(k1) * bu + cornerNormal(k2) * bv);
    if (length(n) == 0.0) n = ng;
    // Shadow rays leave from the smooth surface that the corner normals describe rather than from
    // the flat triangle: each corner's tangent plane lifts the point by how far it lies below that
    // plane, blended by the weights. Without it, coarse meshes show their facets at the edge of
    // the shadow, where neighbouring triangles shadow each other.
    V3 shadowFrom = position;
    {
        const V3 cn[3] = {cornerNormal(0), cornerNormal(k1), cornerNormal(k2)};
        const V3 cp[3] = {pa, p1, p2};
        const double w[3] = {b0, bu, bv};
        for (int k = 0; k < 3; ++k) shadowFrom += cn[k] * (-w[k] * std::min(0.0, dot(position - cp[k], cn[k])));
    }

    const Material& m = *ro.material;
    V3 albedo = m.colour;
    if (m.shader) {
        RenderData rd;
        rd.object = &ro;
        ChannelData cd;
        cd.renderData = &rd;
        cd.hitId = tri;
        cd.uvSet = m.uvSet;
        cd.second = second;
        // The shader's triangle is a, b, c or a, d, c: its second and third corners.
        cd.w1 = second ? bv : bu;
        cd.w2 = second ? bu : bv;
        if (m.uvSet >= 1 && m.uvSet < ro.uvSetCount()) {
            const UVWRow& row = (*ro.uvSets[m.uvSet - 1])[polygon];
            const Vec3f &t0 = row.corner(0), &t1 = row.corner(k1), &t2 = row.corner(k2);
            cd.u = t0.x * b0 + t1.x * bu + t2.x * bv;
            cd.v = t0.y * b0 + t1.y * bu + t2.y * bv;
        }
        float c[3] = {1.0f, 1.0f, 1.0f};
        m.shader->sample(cd, c);
        albedo = mul(albedo, V3{c[0], c[1], c[2]});
        if (rd.normalWritten) n = rd.normal;
    }
    // Both sides of a surface are lit alike: turn the normals toward the viewer.
    if (dot(ng, dir) > 0.0) {
        ng = -ng;
        n = -n;
    }

    V3 diffuse{job.settings->ambient, job.settings->ambient, job.settings->ambient};
    double highlight = 0.0;
    for (const Light& l : job.lights) {
        const double ndl = dot(n, l.direction);
        if (ndl <= 0.0) continue;
        if (job.settings->shadows) {
            ++count.shadow;
            const V3 from = shadowFrom + ng * (dot(ng, l.direction) >= 0.0 ? job.epsilon : -job.epsilon);
            if (occluded(job.rtc, from, l.direction, job.epsilon)) continue;
        }
        diffuse += V3{1, 1, 1} * (l.intensity * ndl);
        if (m.specular > 0.0) {
            const V3 h = normalized(l.direction - dir);
            highlight += l.intensity * m.specular * std::pow(std::max(0.0, dot(n, h)), m.shininess);
        }
    }
    V3 colour = mul(albedo, diffuse) + V3{highlight, highlight, highlight};

    if (job.settings->wireframe) {
        const int corners = p.c == p.d ? 3 : 4;
        double sx[4], sy[4];
        bool onScreen = true;
        for (int k = 0; k < corners; ++k) onScreen = onScreen && job.camera->project(ro.point(corner[k]), &sx[k], &sy[k]);
        if (onScreen) {
            double d = INFINITY;
            for (int k = 0; k < corners; ++k) {
                const int j = (k + 1) % corners;
                d = std::min(d, segmentDistance(px, py, sx[k], sy[k], sx[j], sy[j]));
            }
            if (d <= kWireHalfWidth) colour = colour * (1.0 - kWireOpacity) + job.settings->wireColour * kWireOpacity;
        }
    }
    return colour;
}

void renderRow(const Job& job, int y, Image& out, Counters& count) {
    const int w = out.width;
    const int samples = std::clamp(job.settings->samples, 1, 64);
    for (int x0 = 0; x0 < w; x0 += 8) {
        const int n = std::min(8, w - x0);
        V3 sum[8];
        int covered[8] = {};
        for (int s = 0; s < samples; ++s) {
            const double ox = s == 0 ? 0.5 : halton(s, 2), oy = s == 0 ? 0.5 : halton(s, 3);
            V3 origins[8], dirs[8];
            Hit hits[8];
            for (int i = 0; i < n; ++i) job.camera->ray(x0 + i + ox, y + oy, &origins[i], &dirs[i]);
            tracePacket(job.rtc, origins, dirs, n, hits);
            count.primary += n;
            for (int i = 0; i < n; ++i) {
                sum[i] += shade(job, dirs[i], hits[i], x0 + i + ox, y + oy, count);
                covered[i] += hits[i].geomID != RTC_INVALID_GEOMETRY_ID ? 1 : 0;
            }
        }
        for (int i = 0; i < n; ++i) {
            const size_t p = static_cast<size_t>(y) * w + x0 + i;
            const V3 c = sum[i] * (1.0 / samples);
            out.rgb[3 * p] = float(c.x);
            out.rgb[3 * p + 1] = float(c.y);
            out.rgb[3 * p + 2] = float(c.z);
            out.coverage[p] = float(covered[i]) / samples;
        }
    }
}

}  // namespace

bool Scene::render(const Camera& camera, const RenderSettings& settings, Document* doc, Image* out,
                   std::string* error, RenderStats* stats) const {
    if (!kernel_->committed) {
        if (error) *error = "the scene was not prepared for rendering";
        return false;
    }
    const auto started = std::chrono::steady_clock::now();
    out->width = camera.width();
    out->height = camera.height();
    const size_t pixels = static_cast<size_t>(out->width) * out->height;
    out->rgb.assign(3 * pixels, 0.0f);
    out->coverage.assign(pixels, 0.0f);

    // Every shader used starts once before the first sample and ends after the last.
    std::set<ShaderNode*> shaders;
    for (const auto& o : objects_)
        if (o->material->shader) shaders.insert(o->material->shader);
    for (ShaderNode* s : shaders) s->initRender(doc);

    Job job{this, kernel_->scene, &camera, &settings,
            settings.lights.empty() ? defaultLights(camera) : settings.lights, 0.0};
    for (Light& l : job.lights) l.direction = normalized(l.direction);
    job.epsilon = std::max(bounds().radius(), 1e-6) * 1e-5;

    const int threads = std::min(threadCount(settings.threads), std::max(out->height, 1));
    std::atomic<int> nextRow{0}, rowsDone{0}, lastPercent{-1};
    std::vector<Counters> counters(threads);
    auto work = [&](int index) {
        for (int y = nextRow++; y < out->height; y = nextRow++) {
            renderRow(job, y, *out, counters[index]);
            const int done = ++rowsDone;
            if (settings.progress) {
                const int percent = static_cast<int>(int64_t(done) * 100 / out->height);
                int last = lastPercent.load();
                while (percent > last && !lastPercent.compare_exchange_weak(last, percent)) {
                }
                if (percent > last) settings.progress(percent);
            }
        }
    };
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i) pool.emplace_back(work, i);
    work(0);
    for (std::thread& t : pool) t.join();

    for (ShaderNode* s : shaders) s->freeRender();
    if (stats) {
        *stats = RenderStats();
        for (const Counters& c : counters) {
            stats->primaryRays += c.primary;
            stats->shadowRays += c.shadow;
        }
        stats->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    return true;
}

uint64_t Scene::castPrimaryRays(const Camera& camera, int threads) const {
    if (!kernel_->committed) return 0;
    const int n = std::min(threadCount(threads), std::max(camera.height(), 1));
    std::atomic<int> nextRow{0};
    std::atomic<uint64_t> hits{0};
    auto work = [&] {
        uint64_t own = 0;
        for (int y = nextRow++; y < camera.height(); y = nextRow++) {
            for (int x0 = 0; x0 < camera.width(); x0 += 8) {
                const int count = std::min(8, camera.width() - x0);
                V3 origins[8], dirs[8];
                Hit found[8];
                for (int i = 0; i < count; ++i) camera.ray(x0 + i + 0.5, y + 0.5, &origins[i], &dirs[i]);
                tracePacket(kernel_->scene, origins, dirs, count, found);
                for (int i = 0; i < count; ++i) own += found[i].geomID != RTC_INVALID_GEOMETRY_ID ? 1 : 0;
            }
        }
        hits += own;
    };
    std::vector<std::thread> pool;
    for (int i = 1; i < n; ++i) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    return hits.load();
}

}  // namespace host::render
