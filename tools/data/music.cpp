// Data set: the soundtrack, Music.mp3. A small synthesizer plays a piece in
// A minor whose kick drums fall on each scene's beat grid (the grids differ:
// 429, 428 and 430 ms, each starting at its scene's first millisecond), with
// bass, pads, hi-hats, claps, arpeggios and risers into the cuts; LAME
// encodes it at 160 kbit/s with an Info tag (so decoders drop the encoder
// delay and the beats stay where they were written).
// Depends on dataset.h, image.h (Rng, writeBytes), LAME.
#include "tools/data/dataset.h"
#include "tools/data/image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <lame/lame.h>

namespace {

constexpr int RATE = DATA_MUSIC_RATE;
constexpr float PI = 3.14159265f;

struct Track {
    std::vector<float> left, right;
};

// One section of the piece: a beat grid and the parts that play on it.
struct Section {
    int startMs;
    int endMs;
    int periodMs;
    int chordOffset; // where in the progression the section starts
    bool kick, clap, hats, openHats, bass, arp, pad, lead;
    float energy; // overall level of the drums
};

// Scene windows and their beat grids.
const Section sections[] = {
    {0, 2200, 429, 0, false, false, false, false, false, false, true, false, 0.0f},
    {2200, 5632, 429, 0, true, false, false, false, false, false, true, false, 0.8f},
    {5632, 19360, 429, 0, true, true, true, false, true, false, true, false, 0.9f},
    {19360, 39952, 429, 0, true, true, true, true, true, true, true, false, 1.0f},
    {39952, 53680, 429, 0, true, true, true, true, true, true, true, true, 1.0f},
    {53680, 57112, 429, 0, false, false, false, false, false, false, true, true, 0.0f}, // closing
    {57112, 70808, 428, 2, true, true, true, false, true, false, true, true, 1.0f},
    {70808, 74314, 428, 0, false, false, true, false, false, true, true, false, 0.5f}, // finale
    {74314, 88010, 428, 0, true, true, true, true, true, true, true, false, 1.0f},
    {88010, 101778, 430, 1, true, true, true, false, true, false, true, true, 1.0f},
    {101778, 120094, 429, 0, true, true, true, true, true, true, true, false, 1.0f},
    {120094, 121083, 429, 0, false, false, false, false, false, false, false, false, 0.0f}, // dip
    {121083, 122370, 429, 2, true, true, true, true, true, true, true, true, 1.0f},
    {122370, 125810, 430, 0, true, true, true, false, true, false, true, false, 0.9f},
    {125810, 129250, 430, 0, true, true, true, true, true, true, true, true, 1.0f}, // bright
    {129250, 136130, 430, 2, true, true, true, false, true, true, true, false, 0.9f},
    {136130, 139570, 430, 0, true, true, true, true, true, true, true, true, 1.0f}, // bright
    {139570, 157050, 430, 0, true, false, true, false, true, true, true, false, 0.7f}, // credits
    {157050, DATA_MUSIC_SECONDS * 1000, 430, 0, false, false, false, false, false, false, true, false, 0.0f},
};

// Grid origins: a section that continues its scene's grid keeps that origin.
int gridOrigin(const Section& section)
{
    static const int sceneStarts[] = {2200, 57112, 74314, 88010, 101778, 122370, 139570, 157050};
    int origin = section.startMs;
    for (int start : sceneStarts) {
        if (start <= section.startMs) {
            origin = start;
        }
    }
    return section.startMs < 2200 ? section.startMs : origin;
}

// A minor: i - VI - III - VII, two bars each. MIDI note numbers of the triads.
const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {48, 52, 55}, {55, 59, 62}};

float midiToHz(float note) { return 440.0f * std::pow(2.0f, (note - 69.0f) / 12.0f); }

int sampleAt(double ms) { return static_cast<int>(ms * RATE / 1000.0); }

void addSample(Track& track, int index, float left, float right)
{
    if (index >= 0 && index < static_cast<int>(track.left.size())) {
        track.left[index] += left;
        track.right[index] += right;
    }
}

// ------------------------------------------------------------ instruments

void kick(Track& track, double ms, float gain)
{
    const int start = sampleAt(ms);
    double phase = 0.0;
    for (int i = 0; i < RATE * 35 / 100; ++i) {
        const float t = static_cast<float>(i) / RATE;
        const float frequency = 45.0f + 110.0f * std::exp(-t * 28.0f);
        phase += frequency / RATE;
        const float body = std::sin(2.0f * PI * static_cast<float>(phase)) * std::exp(-t * 7.5f);
        const float click = (i < RATE / 400) ? 0.3f * (1.0f - static_cast<float>(i) / (RATE / 400.0f)) : 0.0f;
        const float s = gain * std::tanh(1.6f * (body + click));
        addSample(track, start + i, s, s);
    }
}

void clap(Track& track, double ms, float gain, Rng& rng)
{
    const int start = sampleAt(ms);
    float low = 0.0f, band = 0.0f;
    for (int i = 0; i < RATE / 4; ++i) {
        const float t = static_cast<float>(i) / RATE;
        // three quick bursts then a tail, like several hands
        float envelope = std::exp(-t * 18.0f);
        for (int burst = 0; burst < 3; ++burst) {
            const float bt = t - burst * 0.011f;
            if (bt >= 0.0f && bt < 0.01f) {
                envelope += 0.8f * (1.0f - bt / 0.01f);
            }
        }
        const float noise = rng.range(-1.0f, 1.0f);
        low += 0.35f * (noise - low);
        band += 0.5f * ((noise - low) - band);
        const float tone = 0.3f * std::sin(2.0f * PI * 190.0f * t) * std::exp(-t * 30.0f);
        const float s = gain * envelope * (band + tone) * 0.6f;
        addSample(track, start + i, s * 0.9f, s);
    }
}

void hat(Track& track, double ms, float gain, bool open, Rng& rng)
{
    const int start = sampleAt(ms);
    const int length = open ? RATE / 4 : RATE / 22;
    float previous = 0.0f;
    for (int i = 0; i < length; ++i) {
        const float t = static_cast<float>(i) / RATE;
        const float noise = rng.range(-1.0f, 1.0f);
        const float high = noise - previous; // a first difference keeps the top end
        previous = noise;
        const float envelope = std::exp(-t * (open ? 14.0f : 90.0f));
        const float s = gain * envelope * high * 0.22f;
        addSample(track, start + i, s * 0.8f, s);
    }
}

// A saw bass through a two-pole low-pass whose cut-off falls with the note.
void bass(Track& track, double ms, double lengthMs, float note, float gain)
{
    const int start = sampleAt(ms);
    const int length = sampleAt(lengthMs);
    const float frequency = midiToHz(note);
    float phase = 0.0f, a = 0.0f, b = 0.0f;
    for (int i = 0; i < length + RATE / 100; ++i) {
        const float t = static_cast<float>(i) / RATE;
        phase += frequency / RATE;
        phase -= std::floor(phase);
        const float saw = 2.0f * phase - 1.0f;
        const float sub = std::sin(2.0f * PI * phase);
        const float cutoff = 0.02f + 0.12f * std::exp(-t * 14.0f);
        a += cutoff * (saw - a);
        b += cutoff * (a - b);
        float envelope = std::min(1.0f, t * 400.0f);
        if (i > length) {
            envelope *= 1.0f - static_cast<float>(i - length) / (RATE / 100.0f);
        }
        const float s = gain * envelope * (b * 0.9f + sub * 0.45f);
        addSample(track, start + i, s, s);
    }
}

// A pad chord: detuned saws per note, slow attack and release, low-passed,
// spread across the two channels.
void pad(Track& track, double ms, double lengthMs, const int* notes, float gain, float brightness)
{
    const int start = sampleAt(ms);
    const int length = sampleAt(lengthMs);
    const int release = RATE * 6 / 10;
    for (int n = 0; n < 3; ++n) {
        const float frequency = midiToHz(static_cast<float>(notes[n]));
        for (int voice = 0; voice < 2; ++voice) {
            const float detune = voice == 0 ? 0.997f : 1.003f;
            const float pan = voice == 0 ? 0.7f : 0.3f;
            float phase = 0.13f * n + 0.37f * voice, lowA = 0.0f, lowB = 0.0f;
            for (int i = 0; i < length + release; ++i) {
                const float t = static_cast<float>(i) / RATE;
                phase += frequency * detune / RATE;
                phase -= std::floor(phase);
                const float saw = 2.0f * phase - 1.0f;
                const float cutoff = 0.015f + 0.05f * brightness * (0.5f + 0.5f * std::sin(t * 1.3f + n));
                lowA += cutoff * (saw - lowA);
                lowB += cutoff * (lowA - lowB);
                float envelope = std::min(1.0f, t * 2.5f);
                if (i > length) {
                    envelope *= std::exp(-static_cast<float>(i - length) / (release * 0.3f));
                }
                const float s = gain * envelope * lowB;
                addSample(track, start + i, s * pan * 2.0f, s * (1.0f - pan) * 2.0f);
            }
        }
    }
}

// A plucked square note (arpeggios and the lead).
void pluck(Track& track, double ms, float note, float gain, float decay, float pan)
{
    const int start = sampleAt(ms);
    const float frequency = midiToHz(note);
    float phase = 0.0f, low = 0.0f;
    for (int i = 0; i < RATE / 2; ++i) {
        const float t = static_cast<float>(i) / RATE;
        phase += frequency / RATE;
        phase -= std::floor(phase);
        const float square = phase < 0.5f ? 1.0f : -1.0f;
        low += (0.08f + 0.3f * std::exp(-t * 20.0f)) * (square - low);
        const float envelope = std::exp(-t * decay) * std::min(1.0f, t * 800.0f);
        const float s = gain * envelope * low;
        addSample(track, start + i, s * (1.0f - pan) * 2.0f * 0.5f, s * pan * 2.0f * 0.5f);
    }
}

// A noise sweep rising into a cut.
void riser(Track& track, double endMs, double lengthMs, float gain, Rng& rng)
{
    const int start = sampleAt(endMs - lengthMs);
    const int length = sampleAt(lengthMs);
    float low = 0.0f, band = 0.0f;
    for (int i = 0; i < length; ++i) {
        const float x = static_cast<float>(i) / length;
        const float noise = rng.range(-1.0f, 1.0f);
        const float cutoff = 0.02f + 0.5f * x * x;
        low += cutoff * (noise - low);
        band += cutoff * ((noise - low) - band);
        const float s = gain * x * x * (band * 0.8f + low * 0.3f);
        addSample(track, start + i, s, s * 0.9f);
    }
}

// ------------------------------------------------------------ arrangement

void playSection(Track& track, const Section& section, Rng& rng)
{
    const int origin = gridOrigin(section);
    const double period = section.periodMs;
    // the first beat of the grid at or after the section start
    int first = static_cast<int>(std::ceil((section.startMs - origin) / period));
    if (first < 0) {
        first = 0;
    }
    for (int k = first;; ++k) {
        const double beat = origin + k * period;
        // a beat too close to the next cut would stumble into the next grid
        if (beat >= section.endMs - period * 0.5) {
            break;
        }
        const int bar = k / 4;
        const int inBar = k % 4;
        const int chordIndex = (k / 8 + section.chordOffset) % 4;
        const int* chord = chords[chordIndex];
        const float e = section.energy;
        if (section.kick) {
            kick(track, beat, 0.9f * e);
        }
        if (section.clap && (inBar == 1 || inBar == 3)) {
            clap(track, beat, 0.45f * e, rng);
        }
        if (section.hats) {
            hat(track, beat + period * 0.5, 0.7f * e, section.openHats && inBar % 2 == 1, rng);
            hat(track, beat + period * 0.25, 0.25f * e, false, rng);
            hat(track, beat + period * 0.75, 0.3f * e, false, rng);
        }
        if (section.bass) {
            const float root = static_cast<float>(chord[0] - 24);
            bass(track, beat + period * 0.5, period * 0.42, root, 0.32f);
            if (inBar == 3) {
                bass(track, beat + period * 0.75, period * 0.2, root + 12.0f, 0.22f);
            }
        }
        if (section.arp) {
            static const int order[4] = {0, 1, 2, 1};
            for (int step = 0; step < 4; ++step) {
                const int tone = order[(k * 4 + step) % 4];
                const float note = static_cast<float>(chord[tone] + 12 + ((step == 3 && bar % 2 == 1) ? 12 : 0));
                pluck(track, beat + period * 0.25 * step, note, 0.07f, 18.0f, step % 2 == 0 ? 0.3f : 0.7f);
            }
        }
        if (section.lead && inBar == 0 && (bar % 2 == 0)) {
            // a short motif over the first bar of each chord
            static const int motif[4] = {2, 1, 0, 1};
            for (int i = 0; i < 4; ++i) {
                pluck(track, beat + period * (i * 0.75), static_cast<float>(chord[motif[i]] + 24), 0.09f, 6.0f,
                      0.5f);
            }
        }
        if (section.pad && k % 8 == 0) {
            const double length = std::min(period * 8.0, section.endMs - beat);
            pad(track, beat, length, chord, 0.05f, section.kick ? 1.0f : 0.6f);
        }
    }
    // sections without a grid of their own still hold a chord
    if (section.pad && first * period + origin >= section.endMs - period * 0.5) {
        pad(track, section.startMs, section.endMs - section.startMs, chords[section.chordOffset], 0.05f, 0.6f);
    }
}

Track compose()
{
    const std::size_t frames = static_cast<std::size_t>(RATE) * DATA_MUSIC_SECONDS;
    Track track{std::vector<float>(frames, 0.0f), std::vector<float>(frames, 0.0f)};
    Rng rng{0x6D757331u};
    for (const Section& section : sections) {
        playSection(track, section, rng);
    }
    // risers into the big cuts
    riser(track, 2200, 2000, 0.35f, rng);
    riser(track, 57112, 3400, 0.3f, rng);
    riser(track, 74314, 3400, 0.3f, rng);
    riser(track, 88010, 1700, 0.25f, rng);
    riser(track, 121083, 980, 0.35f, rng);
    riser(track, 122370, 1700, 0.25f, rng);
    riser(track, 139570, 1700, 0.25f, rng);
    // master: gentle saturation, then scale to a safe peak
    float peak = 0.0f;
    for (std::size_t i = 0; i < frames; ++i) {
        track.left[i] = std::tanh(track.left[i] * 1.1f);
        track.right[i] = std::tanh(track.right[i] * 1.1f);
        peak = std::max({peak, std::fabs(track.left[i]), std::fabs(track.right[i])});
    }
    const float gain = peak > 0.0f ? 0.89f / peak : 1.0f;
    for (std::size_t i = 0; i < frames; ++i) {
        track.left[i] *= gain;
        track.right[i] *= gain;
    }
    return track;
}

bool encodeMp3(const Track& track, std::vector<std::uint8_t>& mp3, std::string& error)
{
    lame_global_flags* lame = lame_init();
    if (lame == nullptr) {
        error = "LAME can not start";
        return false;
    }
    lame_set_in_samplerate(lame, RATE);
    lame_set_out_samplerate(lame, RATE);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_brate(lame, 160);
    lame_set_quality(lame, 7);
    lame_set_bWriteVbrTag(lame, 1);
    lame_set_write_id3tag_automatic(lame, 0);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        error = "LAME rejects the encoding settings";
        return false;
    }
    const std::size_t frames = track.left.size();
    constexpr std::size_t chunk = 8192;
    std::vector<short> pcm(chunk * 2);
    std::vector<unsigned char> buffer(chunk * 5 / 4 + 7200);
    for (std::size_t at = 0; at < frames; at += chunk) {
        const std::size_t count = std::min(chunk, frames - at);
        for (std::size_t i = 0; i < count; ++i) {
            pcm[2 * i] = static_cast<short>(std::lround(std::clamp(track.left[at + i], -1.0f, 1.0f) * 32767.0f));
            pcm[2 * i + 1] = static_cast<short>(std::lround(std::clamp(track.right[at + i], -1.0f, 1.0f) * 32767.0f));
        }
        const int written = lame_encode_buffer_interleaved(lame, pcm.data(), static_cast<int>(count), buffer.data(),
                                                           static_cast<int>(buffer.size()));
        if (written < 0) {
            lame_close(lame);
            error = "LAME encoding failed";
            return false;
        }
        mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + written);
    }
    const int flushed = lame_encode_flush(lame, buffer.data(), static_cast<int>(buffer.size()));
    if (flushed < 0) {
        lame_close(lame);
        error = "LAME flush failed";
        return false;
    }
    mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + flushed);
    // the Info tag frame replaces the placeholder the encoder put first
    std::vector<unsigned char> tag(4096);
    const std::size_t tagSize = lame_get_lametag_frame(lame, tag.data(), tag.size());
    if (tagSize > 0 && tagSize <= mp3.size()) {
        std::copy(tag.begin(), tag.begin() + static_cast<std::ptrdiff_t>(tagSize), mp3.begin());
    }
    lame_close(lame);
    return true;
}

} // namespace

bool generateMusic(const std::string& folder, std::string& error)
{
    const Track track = compose();
    std::vector<std::uint8_t> mp3;
    return encodeMp3(track, mp3, error) && writeBytes(folder + "/Music.mp3", mp3, error);
}
