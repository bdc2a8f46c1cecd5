// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "carry.h"
#include "drift.h"
#include "estimate.h"
#include "interval.h"
#include "kernel.h"

namespace {

constexpr int64_t sec = 1000000000;
constexpr int64_t ppm = ppm_scale;

// Points every `every` s from 100 s of uptime, true time running `rate` ppm
// against the oscillator, each off by the next of `noise` (ns, repeating)
// and at `at` by `jump` ns more.
struct run_case {
    const char* name;
    int64_t rate;
    int64_t every;
    std::vector<int64_t> noise;
    int points;
    int at = -1;
    int64_t jump = 0;
    std::vector<take> takes; // what each point was taken as; empty: all used
    int64_t slack;           // ppm * 2^16 the frequency may be off
    int64_t start = 0;       // the frequency known before, ppm * 2^16
    bool once = false;       // the jump is the point at `at` alone
};

const run_case runs[] = {
    {"+200 ppm, clean", 200, 8, {0}, 8, -1, 0, {}, ppm / 256},
    {"-3000 ppm, clean", -3000, 64, {0}, 6, -1, 0, {}, ppm / 256},
    {"+4000 ppm from a drift file 50 ppm off", 4000, 16, {0}, 5, -1, 0, {}, ppm / 256,
        3950 * ppm},
    // The line goes through the middle of a scatter of +-40 us.
    {"-80 ppm, scattered", -80, 32, {40000, -40000, 10000, -30000, 25000}, 8, -1, 0, {}, ppm},
    // Two of eight 0.2 ms off, within the spike bound, would pull least
    // squares by a ppm and more; the medians hardly.
    {"+120 ppm, two outliers", 120, 16, {0, 10000, 200000, -10000, 0, -200000, 10000, 0}, 8, -1,
        0, {}, ppm / 4},
    // A single wild point is held and then dropped: the rate is untouched.
    {"a popcorn spike", 200, 16, {0}, 7, 4, 30000000,
        {take::restarted, take::used, take::used, take::used, take::held, take::used, take::used},
        ppm / 256, 0, true},
    // The world moved (a new path, a server that was off): the second
    // point off the line confirms the first, and the history starts again
    // from the two, the rate kept: the two points are 1 ms off each other,
    // which alone would read as 60 ppm.
    {"a confirmed step", 200, 16, {0, 0, 0, 0, 0, 1000000}, 6, 4, 300000000,
        {take::restarted, take::used, take::used, take::used, take::held, take::confirmed},
        ppm / 8},
    // The first five carried forward at a rate still unknown, 2 ms off the
    // rest: as many again would leave the medians between the two; three
    // newest points off the line the same way end the older ones, and what
    // is left runs true.
    {"a biased start", -3000, 16,
        {2000000, 2100000, 1900000, 2000000, 2050000, 0, 10000, -10000, 0}, 9, -1, 0, {},
        ppm / 2},
    // Below three points there is no scatter to judge a spike by: a point
    // further off than 5 % of the time since starts the history again, so
    // that no rate is read across a jump.
    {"a jump at the second point", 200, 16, {0}, 5, 1, 900000000,
        {take::restarted, take::restarted, take::used, take::used, take::used}, ppm / 256},
};

TEST(Keep, Estimate)
{
    for (const run_case& c : runs) {
        estimate e = {};
        e.freq = c.start;
        for (int k = 0; k < c.points; ++k) {
            point p;
            p.raw = (100 + k * c.every) * sec;
            bool jumped = c.at >= 0 && (c.once ? k == c.at : k >= c.at);
            p.u = 1700000000 * sec + p.raw * c.rate / 1000000
                + c.noise[static_cast<size_t>(k) % c.noise.size()] + jumped * c.jump;
            take t = estimate_add(&e, p);
            if (!c.takes.empty()) {
                EXPECT_EQ(static_cast<int>(t), static_cast<int>(c.takes[static_cast<size_t>(k)]))
                    << c.name << ", point " << k;
            }
        }
        EXPECT_NEAR(e.freq, c.rate * ppm, c.slack) << c.name;
        // And where the clock stands now, which the slew goes by.
        EXPECT_LE(e.last < 0 ? -e.last : e.last, 100000) << c.name;
    }
}

TEST(Keep, SpikeThenReturn)
{
    // Held, then the next point back on the line: the spike never counts.
    estimate e = {};
    for (int k = 0; k < 6; ++k) {
        point p = {(100 + 16 * k) * sec, 1700000000 * sec + (100 + 16 * k) * sec / 10000};
        if (k == 4)
            p.u += 30000000;
        EXPECT_EQ(estimate_add(&e, p), k == 0 ? take::restarted : k == 4 ? take::held : take::used) << k;
    }
    EXPECT_NEAR(e.freq, 100 * ppm, ppm / 256);
    EXPECT_EQ(e.n, 5);
    EXPECT_NEAR(e.last, 0, 1000);
    EXPECT_LE(e.spread, ppm);
}

struct split_case {
    int64_t total; // ppm * 2^16
    long now;      // the tick the kernel has
    long tick;
    long freq;
};

const split_case splits[] = {
    {200 * ppm, 10000, 10000, 200 * ppm},       // within the frequency's reach
    {-400 * ppm, 10000, 10000, -400 * ppm},     // at the edge: the tick stays
    {450 * ppm, 10000, 10005, -50 * ppm},       // past it: the nearest tick
    {-3000 * ppm, 10000, 9970, 0},
    {-3100 * ppm, 9970, 9970, -100 * ppm},      // the tick stays where it was set
    {-3450 * ppm, 9970, 9965, 50 * ppm},        // half a tick rounds away from zero
    {4000 * ppm + 1, 10000, 10040, 1},
    {60000 * ppm, 10000, 10500, 0},             // clamped to 5 %
    {-60000 * ppm, 10000, 9500, 0},
};

TEST(Keep, Split)
{
    for (const split_case& c : splits) {
        ktick k = split(c.total, c.now);
        EXPECT_EQ(k.tick, c.tick) << c.total << " from " << c.now;
        EXPECT_EQ(k.freq, c.freq) << c.total << " from " << c.now;
        EXPECT_EQ(kfreq_total(k.tick, k.freq),
            c.total > correction_max ? correction_max : c.total < -correction_max ? -correction_max : c.total);
    }
    const std::pair<int64_t, long> constants[] = {
        {0, 0}, {8 * sec, 0}, {64 * sec, 2}, {1024 * sec, 6}, {int64_t{1} << 50, 10}};
    for (const auto& [interval, want] : constants)
        EXPECT_EQ(slew_constant(interval), want) << interval;
}

TEST(Keep, Interval)
{
    // (offset, error) of each measurement, 0 error: a failure; and the
    // interval after it, s. From 16 to 128 s.
    const std::vector<std::tuple<int64_t, int64_t, uint64_t>> steps = {
        {10000000, 100000, 16},  // far off: stays at the shortest
        {50000, 100000, 16},     // one calm
        {-80000, 100000, 32},    // two: doubles
        {150000, 100000, 32},    // neither calm nor wild
        {90000, 100000, 32},
        {90000, 100000, 64},
        {0, 0, 128},             // a failure doubles
        {0, 0, 128},             // up to the longest
        {500000, 100000, 64},    // wild: halves
        {-500000, 100000, 32},
        {-500000, 100000, 16},
        {-500000, 100000, 16},   // down to the shortest
    };
    interval v;
    interval_start(&v, 16 * sec, 128 * sec);
    for (size_t k = 0; k < steps.size(); ++k) {
        auto [offset, error, want] = steps[k];
        if (error == 0)
            interval_failed(&v);
        else
            interval_good(&v, offset, error);
        EXPECT_EQ(v.ns, want * sec) << "after measurement " << k;
    }
}

TEST(Keep, DriftFile)
{
    const std::tuple<const char*, drift_status, int64_t> cases[] = {
        {"+12.345\n", drift_status::ok, 809042}, // 12.345 * 2^16, to the nearest
        {"-3000", drift_status::ok, -3000 * ppm},
        {"0.5", drift_status::ok, ppm / 2},
        {"50000.000\n", drift_status::ok, 50000 * ppm},
        {"-50000.001", drift_status::beyond, 0},
        {"99999999999", drift_status::corrupt, 0}, // past 32 bits of thousandths
        {"12.3456", drift_status::corrupt, 0},
        {"12.", drift_status::corrupt, 0},
        {".5", drift_status::corrupt, 0},
        {"", drift_status::corrupt, 0},
        {"\n", drift_status::corrupt, 0},
        {"+-1", drift_status::corrupt, 0},
        {" 1", drift_status::corrupt, 0},
        {"1\n\n", drift_status::corrupt, 0},
        {"1.2.3", drift_status::corrupt, 0},
        {"0x10", drift_status::corrupt, 0},
    };
    for (const auto& [text, want, scaled] : cases) {
        int64_t got = 0;
        EXPECT_EQ(drift_parse(text, static_cast<int>(std::string(text).size()), &got), want) << text;
        if (want == drift_status::ok) {
            EXPECT_EQ(got, scaled) << text;
        }
    }
    // Written and read back, to the thousandth of a ppm.
    for (int64_t v : {int64_t{0}, int64_t{809042}, -3000 * ppm - 33, 50000 * ppm, int64_t{-1}}) {
        char line[drift_line_max];
        int len = drift_format(line, v);
        int64_t back = 0;
        ASSERT_EQ(drift_parse(line, len, &back), drift_status::ok) << std::string(line, static_cast<size_t>(len));
        EXPECT_NEAR(back, v, ppm / 1000) << std::string(line, static_cast<size_t>(len));
    }
    uint32_t v = 0;
    EXPECT_TRUE(scan_fixed("0.128", 9, &v));
    EXPECT_EQ(v, 128000000u);
    EXPECT_FALSE(scan_fixed("4.3", 9, &v)); // 4.3 * 10^9 is past 32 bits
}

TEST(Keep, Carry)
{
    // Real time as NTP timestamps: whole seconds in the high half.
    auto at = [](int64_t ns) {
        return ((uint64_t{3900000000} + static_cast<uint64_t>(ns / sec)) << 32)
            + (static_cast<uint64_t>(ns % sec) << 32) / sec;
    };
    const std::tuple<const char*, int64_t, int64_t, int64_t, int64_t> cases[] = {
        // name, real moved, raw moved, kernel correction, carry
        {"nothing moved", 5 * sec, 5 * sec, 0, 0},
        {"slewed 2.5 ms", 5 * sec + 2500000, 5 * sec, 0, 2500000},
        {"stepped back 1 s", 4 * sec, 5 * sec, 0, -sec},
        // The kernel's correction of the rate is not a move of the clock.
        {"-3000 ppm corrected", 6 * sec - 18000000, 6 * sec, -3000 * ppm, 0},
        {"-3000 ppm corrected, slewed 1 ms", 6 * sec - 17000000, 6 * sec, -3000 * ppm, 1000000},
    };
    for (const auto& [name, real, raw, kfreq, want] : cases) {
        stamp then = {at(0), 7 * sec}, now = {at(real), 7 * sec + raw};
        EXPECT_NEAR(carry_ns(then, now, kfreq), want, 2) << name;
    }
    // A burst's best sample at 0 s and another at 2 s, the result wanted at
    // 4 s; offsets ns, errors (half delays) 100 us.
    const std::tuple<const char*, int64_t, int64_t, int64_t> growths[] = {
        {"grown 1.2 ms in 2 s, a clock 600 ppm off", 0, 1200000, 2400000},
        {"shrunk the same", 0, -1200000, -2400000},
        {"within the errors: nothing to say", 0, 150000, 0},
        {"the other sample earlier", 1200000, 0, 2400000},
    };
    for (const auto& [name, best, other, want] : growths) {
        bool earlier = best != 0;
        carried b = {best, earlier ? 2 * sec : 0, 100000}, o = {other, earlier ? 0 : 2 * sec, 100000};
        EXPECT_EQ(growth_ns(b, o, 4 * sec), earlier ? want / 2 : want) << name;
    }
}

}
