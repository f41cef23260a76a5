"""Drum scores of the 68 beat styles, in catalogue order (the 36 club styles first).

Each entry: stem, label, bars, note (club styles only; "" for none) and lanes, a mapping
lane -> (velocity, steps). Steps are sixteenth notes (16 pips) counted from the start of
the period, written as a string of tokens:

  "12"          one onset at step 12 with the lane's velocity
  "7g"          a ghost: quiet velocity GHOST
  "9@0.45"      an explicit velocity
  "10+2/3"      an exact fractional step (10 2/3 sixteenths = 170 2/3 pips)
  "0-28/4"      every 4th step from 0 to 28 inclusive; "1-31/2+1/3" adds 1/3 step to each
  "0-28/4@0.5"  ranges take the same suffixes (g, @v)

Lanes: kick, snare, clap, rim (the backbeat lanes), ohat (open/offbeat hat), chat (closed
hat or ride), shaker, tom, bell, perc, bass (bass cues). The kick lane and the union of the
snare, clap and rim lanes carry exactly the placements of the style table; every other lane
is designed per genre. Shuffle and swing are exact thirds of a step (2:1 swing of the
sixteenth: the off-sixteenth sits 1/3 step late; triplet eighths: 2/3 step), triplet rolls
and fills run at 2/3 step (a sixth of a beat), trills at 1/2 step.

Shakers, toms, bells, perc and bass are the "extra" lanes: 44 styles carry at least one of
them, 23 (and four_floor) carry only the kit (kick, backbeat, hats). The kit-only styles are
the ones whose identity is the drum kit itself: the house and driving-techno kit grooves,
the two-step and shuffled garage kits, the breakbeat family (amen, jungle, drum & bass,
rave breaks, broken beat), the machine-kit electro groove and the jersey kick figures.
Their labels and notes name no bass, tom, bell or hand-percussion part. Every style whose
label or note names bass, toms, bells, shakers, clave/conga or a percussion cycle, and the
genres built on a sub-bass or hand-percussion layer (grime, drill, dubstep, trap, reggae,
dub, dancehall, reggaeton, amapiano, afro house, gqom, baile funk, UK funky, footwork,
psy, hard dance, italo, acid, disco's tambourine), carries extra lanes.
"""

import re
from fractions import Fraction

GHOST = 0.3  # velocity of a ghost ("g") onset: kicks, snares, claps and rims alike

LANES = ("kick", "snare", "clap", "rim", "ohat", "chat", "shaker", "tom", "bell", "perc",
         "bass")
BACKBEAT = ("snare", "clap", "rim")
EXTRA = ("shaker", "tom", "bell", "perc", "bass")
PIPS_PER_STEP = 16  # a step is a sixteenth note

_TOKEN = re.compile(r"(\d+)(?:-(\d+)/(\d+))?(?:\+(\d+)/(\d+))?(g)?(?:@([0-9.]+))?\Z")


def lane_events(steps, default_velocity):
    """(pip, velocity) events of a lane's step string, in time order; a later token at the
    same time sets that onset's velocity (an accent over a running figure)."""
    events = {}
    for token in steps.split():
        m = _TOKEN.match(token)
        if not m:
            raise ValueError("bad step token %r" % token)
        first, last, every, num, den, ghost, vel = m.groups()
        positions = range(int(first), int(last) + 1, int(every)) if last else (int(first),)
        shift = Fraction(int(num), int(den)) if num else Fraction(0)
        v = GHOST if ghost else float(vel) if vel else default_velocity
        for s in positions:
            events[(s + shift) * PIPS_PER_STEP] = v
    return sorted(events.items())


# Common two-bar figures (kept as literals so every style reads on its own line).
EVERY4 = "0-28/4"            # quarter-note kick over two bars
BACK2_4 = "4 12 20 28"       # backbeat on 2 and 4
GROUPED = "0 3 6 8 11 14 16 19 22 24 27 30"   # 3+3+2 sixteenth grouping, straight grid

STYLES = (
    # ---- club styles ------------------------------------------------------------------
    dict(stem="four_floor", label="Four to the floor / bare pulse", bars=1,
         note="Equal quarter-note kicks only. This shared foundation is not itself a "
              "complete genre.",
         lanes={"kick": (1.0, "0 4 8 12")}),
    # Closed hat on every beat, open hat on every offbeat, both at full velocity.
    dict(stem="house_classic", label="House / kick-clap-offbeat hat", bars=2, note="",
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4),
                "chat": (1.0, "0-28/4"), "ohat": (1.0, "2-30/4")}),
    # Triplet-shuffled eighths: the offbeat hat sits on the third triplet of the beat.
    dict(stem="house_shuffle", label="House / shuffled hats", bars=2, note="",
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4),
                "chat": (0.5, "0-30/2 1-31/2+1/3@0.35"), "ohat": (0.75, "2-30/4+2/3")}),
    dict(stem="house_jack", label="Jackin house / ghost-kick turnaround", bars=2,
         note="Original swung variant: extra ghost kicks and claps; not a transcription of a "
              "named track.",
         lanes={"kick": (1.0, "0-28/4 7g 30"), "clap": (1.0, "1g 4 9g 12 20 25g 28"),
                "chat": (0.5, "1-31/2+1/3"), "ohat": (0.8, "2-30/4")}),
    # Straight sixteenth hats with accented eighths under an offbeat open hat.
    dict(stem="techno_drive", label="Techno / straight driving pulse", bars=2, note="",
         lanes={"kick": (1.0, EVERY4), "clap": (0.9, BACK2_4),
                "chat": (0.4, "0-30/2@0.55 1-31/2"), "ohat": (0.85, "2-30/4")}),
    # Low/high tom answers between the kicks; the clap only on beat 4.
    dict(stem="techno_toms", label="Techno / tom conversation", bars=2, note="",
         lanes={"kick": (1.0, EVERY4), "clap": (0.9, "12 28"),
                "chat": (0.55, "2-30/4"), "tom": (0.8, "3 6 10@0.6 14 19 22 26@0.6 30")}),
    dict(stem="techno_broken", label="Techno / broken kick study", bars=2,
         note="A deliberately broken alternative; not all techno uses a quarter-note kick.",
         lanes={"kick": (1.0, "0 6 10 16 19 24 30"), "clap": (1.0, "4g 12g 20g 28g"),
                "chat": (0.5, "0-30/2"), "ohat": (0.7, "2-30/4")}),
    # The quiet accents (rim, every 9 steps) ride on a 3-step percussion cycle (perc):
    # 16 cycles of 3 steps fill the three bars exactly.
    dict(stem="techno_polymeter", label="Techno / three-step percussion cycle", bars=3,
         note="Original three-sixteenth percussion cycle over 4/4: both layers close after "
              "three bars.",
         lanes={"kick": (1.0, "0-44/4"), "rim": (0.45, "0 9 18 27 36 45"),
                "perc": (0.3, "0-45/3"), "chat": (0.55, "2-46/4")}),
    # Off-grid hats: swung off-sixteenths (1/3 step late) and the offbeat open hat.
    dict(stem="ukg_two_step", label="UK garage / two-step foundation", bars=2,
         note="Backbeats on 2/4; the second kick sits on the & of 3. Off-grid hats supply "
              "shuffle.",
         lanes={"kick": (1.0, "0 10 16 26"), "snare": (1.0, BACK2_4),
                "chat": (0.5, "1-31/2+1/3"), "ohat": (0.6, "2-30/4")}),
    dict(stem="ukg_skip", label="UK garage / skipping answer", bars=2, note="",
         lanes={"kick": (1.0, "0 10 16 23 26"), "snare": (1.0, BACK2_4),
                "chat": (0.5, "1-31/2+1/3"), "ohat": (0.6, "6 14 22 30")}),
    dict(stem="ukg_four_four", label="UK garage / four-four shuffle", bars=2,
         note="Garage also has a four-to-the-floor branch; it is not all two-step.",
         lanes={"kick": (1.0, EVERY4), "snare": (1.0, BACK2_4),
                "chat": (0.45, "1-31/2+1/3"), "ohat": (0.75, "2-30/4")}),
    # One bass cue on every offbeat, full velocity.
    dict(stem="speed_garage", label="Speed garage / offbeat bass answers", bars=2,
         note="Bass onsets are included as movement cues. The audio voices them with a "
              "simple synthesizer, not a sampled bass patch.",
         lanes={"kick": (1.0, EVERY4), "snare": (1.0, BACK2_4),
                "chat": (0.5, "0-30/2"), "ohat": (0.8, "2-30/4"), "bass": (1.0, "2-30/4")}),
    dict(stem="bassline", label="Bassline / syncopated low-end hooks", bars=2, note="",
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4), "chat": (0.5, "0-30/2"),
                "ohat": (0.7, "2-30/4"),
                "bass": (0.9, "2 3@0.6 6 10 11@0.6 14 18 22 23@0.6 27 30")}),
    dict(stem="grime_sparse", label="Grime / sparse square-cut backbeat", bars=2, note="",
         lanes={"kick": (1.0, "0 10 16 26"), "snare": (1.0, "4 7g 12 20 28"),
                "chat": (0.5, "0-30/2"), "bass": (0.8, "0 10 16 26")}),
    dict(stem="grime_syncopated", label="Grime / displaced snare conversation", bars=2,
         note="A 140 BPM syncopated study; grime has no single mandatory snare pattern.",
         lanes={"kick": (1.0, "0 6 16 24 30"), "snare": (1.0, "4 11 14 20 27"),
                "chat": (0.45, "0-30/2"), "bass": (0.8, "0 6 16 24")}),
    dict(stem="grime_half", label="Grime / half-time negative space", bars=2, note="",
         lanes={"kick": (1.0, "0 14 16 23"), "snare": (1.0, "8 24"),
                "chat": (0.5, "0-28/4"), "bass": (0.85, "0 16 23")}),
    # 3+3+2 grouped hats on the straight grid; 808 bass cues with the kicks.
    dict(stem="drill_tresillo", label="UK drill / grouped hats", bars=2,
         note="3+3+2 sixteenth grouping is not a tuplet: the grid here remains straight.",
         lanes={"kick": (1.0, "0 14 16 27"), "snare": (1.0, "8 24"),
                "chat": (0.6, GROUPED), "bass": (0.9, "0 14 16 27")}),
    dict(stem="drill_displaced", label="UK drill / moving second-bar snare", bars=2,
         note="Snare: beat 3 in bar one, beat 4 in bar two. This is one common design, not a "
              "rule for all drill.",
         lanes={"kick": (1.0, "0 14 16 23 30"), "snare": (1.0, "8 28"),
                "chat": (0.55, GROUPED), "bass": (0.9, "0 14 16 23 30")}),
    # Grouped hats in the first bar and a half, then a true triplet fill: twelve hats at
    # 2/3 step (sixths of a beat) over the last two beats.
    dict(stem="drill_rolls", label="UK drill / true triplet hat fill", bars=2,
         note="The added hat fill uses rational tuplets; grouped hats and triplet rolls "
              "remain distinct concepts.",
         lanes={"kick": (1.0, "0 10 16 27"), "snare": (1.0, "8 28"),
                "chat": (0.55, "0 3 6 8 11 14 16 19 22 24-30/2@0.45 24-30/2+2/3@0.45 "
                               "25-31/2+1/3@0.45"),
                "bass": (0.9, "0 10 16 27")}),
    # Ride on every eighth (chat lane); crash-like open hat at the end of the fourth bar.
    dict(stem="amen_four_bar", label="Amen / four-bar structural study", bars=4,
         note="Credit: the break's drummer, band and record. Four bars, not a "
              "generic 2-bar loop. Timing/velocity are approximations; no original "
              "recording or measured human microtiming.",
         lanes={"kick": (1.0, "0 2 10 11 16 18 26 27 32 34 42 50 51 58"),
                "snare": (1.0, "4 12 20 28 36 46 52 62 7g 9g 15g 23g 25g 31g 39g 41g 49g "
                               "55g 57g"),
                "chat": (0.55, "0-62/2"), "ohat": (0.6, "58")}),
    dict(stem="amen_no_ghosts", label="Amen / remove the ghost snares", bars=4,
         note="A/B study: only quiet snares removed. This deliberately simplified version "
              "is not the complete Amen.",
         lanes={"kick": (1.0, "0 2 10 11 16 18 26 27 32 34 42 50 51 58"),
                "snare": (1.0, "4 12 20 28 36 46 52 62"),
                "chat": (0.55, "0-62/2"), "ohat": (0.6, "58")}),
    dict(stem="jungle_chops", label="Jungle / rearranged break fragments", bars=2,
         note="Original chopped-break-style arrangement, not the original Amen sequence.",
         lanes={"kick": (1.0, "0 2 10 16 22 27"),
                "snare": (1.0, "4 14 20 30 7g 9g 23g 25g 31g"), "chat": (0.5, "0-30/2")}),
    dict(stem="jungle_ghosts", label="Jungle / ghosts and snare rolls", bars=2, note="",
         lanes={"kick": (1.0, "0 2 10 11 16 26"),
                "snare": (1.0, "4 12 20 28 31 3g 7g 9g 15g 19g 23g 27g 29g 30g"),
                "chat": (0.5, "0-30/2")}),
    # Sub-bass follows the full-time half, then holds long notes under the half-time answer.
    dict(stem="jungle_switch", label="Jungle / full-time to half-time answer", bars=4,
         note="Four-bar original phrase: the final half uses fewer main snares, not a tempo "
              "change.",
         lanes={"kick": (1.0, "0 10 16 26 32 46 48 58"),
                "snare": (1.0, "4 12 20 28 40 56 7g 25g 55g 62g 63g"),
                "chat": (0.5, "0-62/2"), "bass": (0.8, "0 10 16 26 32 48")}),
    dict(stem="dnb_two_step", label="Drum & bass / two-step foundation", bars=2, note="",
         lanes={"kick": (1.0, "0 10 16 26"), "snare": (1.0, BACK2_4),
                "chat": (0.5, "0-30/2"), "ohat": (0.5, "14 30")}),
    dict(stem="dnb_rolling", label="Drum & bass / rolling ghosts", bars=2, note="",
         lanes={"kick": (1.0, "0 10 16 26 30"), "snare": (1.0, "4 12 20 28 7g 9g 23g 25g 31g"),
                "chat": (0.35, "0-30/2@0.5 1-31/2")}),
    dict(stem="dnb_half", label="Drum & bass / half-time space", bars=2, note="",
         lanes={"kick": (1.0, "0 6 16 30"), "snare": (1.0, "8 24"),
                "chat": (0.45, "0-30/2"), "bass": (0.8, "0 6 16 30")}),
    dict(stem="dubstep_half", label="Dubstep / half-step anchor", bars=2, note="",
         lanes={"kick": (1.0, "0 16 27"), "snare": (1.0, "8 24"),
                "chat": (0.4, "2-30/4 20+2/3 21+1/3"), "bass": (0.9, "0 3@0.6 16 22@0.6 27")}),
    dict(stem="dubstep_skip", label="Dubstep / skippy half-step", bars=2, note="",
         lanes={"kick": (1.0, "0 6 16 22 30"), "snare": (1.0, "8 24"),
                "chat": (0.45, "0 3 6 10 13 16 19 22 26 29"), "bass": (0.9, "0 6 16 22")}),
    # Sixteenth hats with a triplet trill before the second kick pair and a 32nd trill
    # (1/2 step) at the end of the second bar.
    dict(stem="trap_trills", label="Trap / half-time and hat trills", bars=2, note="",
         lanes={"kick": (1.0, "0 7 14 16 22 29"), "clap": (1.0, "8 24"),
                "chat": (0.45, "0-11/1 12 12+2/3 13+1/3 14 15 16-27/1 28-31/1@0.4 "
                               "28-31/1+1/2@0.35"),
                "bass": (1.0, "0 7 14 22 29")}),
    dict(stem="electro", label="Electro / broken machine groove", bars=2, note="",
         lanes={"kick": (1.0, "0 6 10 16 19 26"), "clap": (1.0, BACK2_4),
                "chat": (0.5, "0-30/2"), "ohat": (0.6, "14 30")}),
    # Offbeat bass on every offbeat eighth under a sixteenth hat and offbeat open hat.
    dict(stem="trance", label="Trance / offbeat lift", bars=2,
         note="Offbeat bass/pulse is included. A rhythmic sketch cannot supply trance "
              "harmony, timbre or arrangement.",
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4), "chat": (0.35, "0-31/1"),
                "ohat": (0.85, "2-30/4"), "bass": (0.9, "2-30/4")}),
    dict(stem="rave_breaks", label="Rave / four-floor plus break layer", bars=2, note="",
         lanes={"kick": (1.0, "0-28/4 10g 27g"),
                "snare": (1.0, "4 12 20 28 7g 9g 15g 23g 25g 31g"),
                "chat": (0.5, "0-30/2"), "ohat": (0.6, "2-30/4")}),
    # A timbal flick on the last sixteenth of each beat pair answers the snares.
    dict(stem="dembow", label="Reggaeton / dembow answer", bars=2,
         note="Quarter-note kick version with offbeat snare answers; one useful dembow "
              "foundation, not every dancehall rhythm.",
         lanes={"kick": (1.0, EVERY4), "snare": (1.0, "3 6 11 14 19 22 27 30"),
                "chat": (0.4, "0-30/2"), "perc": (0.45, "7 15 23 31")}),
    # Tambourine (perc) on the off-sixteenths, accented open hats on the offbeats.
    dict(stem="disco", label="Disco / lively hat accents", bars=2, note="",
         lanes={"kick": (1.0, EVERY4), "snare": (1.0, BACK2_4),
                "chat": (0.5, "0-30/2 6@0.8 14@0.8 22@0.8 30@0.8"), "ohat": (0.9, "2-30/4"),
                "perc": (0.35, "1-31/2")}),
    # Sixteenth shaker with accents on the off-eighths, log-drum-style bass cues.
    dict(stem="amapiano", label="Amapiano / shaker and bass-percussion study", bars=2,
         note="An original percussion and log-drum-style bass rhythm. Pitched bass is a cue "
              "lane, not a downloaded sample.",
         lanes={"kick": (1.0, EVERY4), "rim": (1.0, "6g 14g 22g 30g"),
                "shaker": (0.35, "0-30/2 1-31/2@0.25 2-30/4@0.55"),
                "bass": (1.0, "3 6@0.8 11 19 22@0.8 27")}),
    # ---- dancefloor styles ---------------------------------------------------------------
    dict(stem="jersey_five", label="Jersey / five-kick foundation", bars=2,
         lanes={"kick": (1.0, "0 4 8 11 14 16 20 24 27 30"), "clap": (1.0, "8 11 24 27"),
                "chat": (0.45, "0-30/2")}),
    dict(stem="jersey_call", label="Jersey / call and turnaround", bars=2,
         lanes={"kick": (1.0, "0 4 8 11 14 16 20 24 27 30"),
                "clap": (1.0, "4 8 11 20 24 27 26g"),
                "chat": (0.45, "0-30/2"), "ohat": (0.6, "14 30")}),
    # Hats in half-beat-spaced triplets (2 2/3 steps); the bass replies in the same triplet
    # grid through the second bar.
    dict(stem="footwork_triplet", label="Footwork / triplet bass reply", bars=2,
         lanes={"kick": (1.0, "0 6 16 26 30"), "clap": (1.0, "4 8 12 20 24 28"),
                "chat": (0.45, "0-24/8 2-26/8+2/3 5-29/8+1/3"),
                "bass": (0.85, "16 18+2/3 21+1/3 24 26+2/3 29+1/3")}),
    dict(stem="footwork_sparse", label="Footwork / interrupted half-time", bars=2,
         lanes={"kick": (1.0, "0 3 10 16 22 27"), "snare": (1.0, "8 24 5g 21g 29g"),
                "chat": (0.4, "2-30/4"), "tom": (0.6, "12 13+1/3 14+2/3 28 29+1/3 30+2/3")}),
    dict(stem="funky_toms", label="UK funky / tom-led skips", bars=2,
         lanes={"kick": (1.0, "0 8 16 26 4g 12g 20g 28g"), "clap": (1.0, BACK2_4),
                "chat": (0.45, "0-30/2"), "tom": (0.75, "3 6 10 14 19 22 27 30")}),
    dict(stem="funky_syncopated", label="UK funky / broken response", bars=2,
         lanes={"kick": (1.0, "0 6 8 14 16 26 30"), "clap": (1.0, BACK2_4),
                "rim": (1.0, "3g 7g 10g 15g 18g 23g 27g 31g"), "chat": (0.45, "0-30/2"),
                "shaker": (0.3, "1-31/2")}),
    dict(stem="broken_push", label="Broken beat / early-and-late answers", bars=2,
         lanes={"kick": (1.0, "0 7 10 16 22 27"), "snare": (1.0, "4 14 20 28 11g 30g"),
                "chat": (0.5, "0-30/2"), "ohat": (0.6, "6 22")}),
    # Rim ghosts on the last sixteenth of every beat; swung off-sixteenth hats.
    dict(stem="broken_shuffle", label="Broken beat / shuffled rim circuit", bars=2,
         lanes={"kick": (1.0, "0 6 11 16 19 26"), "snare": (1.0, BACK2_4),
                "rim": (1.0, "3g 7g 11g 15g 19g 23g 27g 31g"),
                "chat": (0.45, "0-30/2 1-31/2+1/3@0.3")}),
    # Rim (backbeat column) and a separate bell line weave with the quarter-note kick.
    dict(stem="afro_bell", label="Afro house / bell and kick weave", bars=2,
         lanes={"kick": (1.0, EVERY4), "rim": (1.0, "12 28 0g 3g 6g 10g 16g 19g 22g 26g"),
                "bell": (0.65, "2 5 7 9 11 14 18 21 23 25 27 30"),
                "shaker": (0.3, "0-31/1"), "chat": (0.5, "2-30/4")}),
    # Three evenly spaced perc hits per bar (every 5 1/3 steps) against the four kicks.
    dict(stem="afro_cross", label="Afro house / three-over-four percussion", bars=2,
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4), "rim": (1.0, "7g 15g 23g 31g"),
                "perc": (0.6, "0 5+1/3 10+2/3 16 21+1/3 26+2/3"),
                "shaker": (0.3, "1-31/2"), "chat": (0.5, "2-30/4")}),
    dict(stem="gqom_space", label="Gqom / broken-kick space study", bars=2,
         lanes={"kick": (1.0, "0 3 8 14 16 19 24 29"), "clap": (1.0, "12 28"),
                "tom": (0.7, "6 22"), "perc": (0.5, "2 10 18 26"), "chat": (0.4, "4 20")}),
    dict(stem="gqom_exchange", label="Gqom / staggered drum exchange", bars=2,
         lanes={"kick": (1.0, "0 6 9 16 23 26"), "rim": (1.0, "4g 12g 20g 28g"),
                "tom": (0.7, "3 11 19 30"), "perc": (0.5, "14 30"), "chat": (0.4, "2-30/4")}),
    dict(stem="baile_toms", label="Baile funk / low-drum conversation", bars=2,
         lanes={"kick": (1.0, "0 6 8 16 22 24"), "snare": (1.0, BACK2_4),
                "tom": (0.8, "3 11 14 19 27 30"), "chat": (0.4, "0-30/2")}),
    dict(stem="baile_response", label="Baile funk / syncopated answer", bars=2,
         lanes={"kick": (1.0, "0 3 10 16 22 25"), "snare": (1.0, "4g 12g 20g 28g"),
                "perc": (0.6, "6 14 22 30"), "chat": (0.4, "0-30/2")}),
    # No kick on the one: the bass line starts the bar; cross-stick ghosts with the drop.
    dict(stem="reggae_one_drop", label="Reggae / one-drop foundation", bars=2,
         lanes={"kick": (1.0, "8 24"), "rim": (1.0, "8g 24g"),
                "chat": (0.5, "0-28/4 2-30/4+2/3@0.35"),
                "bass": (0.8, "0 3 6 10 16 19 22 26")}),
    dict(stem="reggae_steppers", label="Dub / steppers foundation", bars=2,
         lanes={"kick": (1.0, EVERY4), "rim": (1.0, "8g 24g"),
                "chat": (0.45, "0-28/4 2-30/4+2/3@0.35"),
                "bass": (0.8, "0 6 8 14 16 22 24 30")}),
    dict(stem="reggae_rockers", label="Reggae / kick-on-one-and-three study", bars=2,
         lanes={"kick": (1.0, "0 8 16 24"), "rim": (1.0, "8g 24g"), "chat": (0.45, "0-30/2"),
                "bass": (0.8, "0 3 8 11 16 19 24 27")}),
    # The clave (quiet) is the rim lane; a conga line (perc) fills around it.
    dict(stem="son_clave_32", label="Latin club / 3-2 son clave", bars=2,
         lanes={"kick": (1.0, EVERY4), "rim": (0.45, "0 6 12 20 24"),
                "perc": (0.5, "2 3 7 10 11 15 18 19 23 26 27 31"), "chat": (0.4, "2-30/4")}),
    dict(stem="son_clave_23", label="Latin club / 2-3 son clave", bars=2,
         lanes={"kick": (1.0, EVERY4), "rim": (0.45, "4 8 16 22 28"),
                "perc": (0.5, "2 3 7 10 11 15 18 19 23 26 27 31"), "chat": (0.4, "2-30/4")}),
    # Rolling sixteenth bass with gaps on the kicks and a rest before each clap.
    dict(stem="psy_rolling", label="Psy / straight rolling bass gaps", bars=2,
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, "12 28"), "chat": (0.5, "2-30/4"),
                "bass": (0.6, "1 2 3 5 6 7 9 10 13 14 15 17 18 19 21 22 23 25 26 29 30 31")}),
    dict(stem="psy_offbeat", label="Trance / offbeat bass exchange", bars=2,
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4), "chat": (0.5, "2-30/4"),
                "bass": (0.85, "2-30/4 3-31/8@0.5")}),
    # Bass swells land late, a sixteenth before each next kick.
    dict(stem="hard_reverse", label="Hard dance / delayed bass swell cues", bars=2,
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4), "ohat": (0.7, "2-30/4"),
                "bass": (0.9, "3-31/4")}),
    # Octave bass on every eighth; rim ghosts converse with the clap.
    dict(stem="italo_machine", label="Italo / machine rim conversation", bars=2,
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4),
                "rim": (1.0, "1g 3g 6g 11g 15g 18g 23g 27g 31g"), "chat": (0.45, "2-30/4"),
                "bass": (0.55, "0-30/2")}),
    # Machine cowbell (bell) answers in the gaps of the broken kick.
    dict(stem="electro_robot", label="Electro / asymmetric machine break", bars=2,
         lanes={"kick": (1.0, "0 6 10 16 19 26"), "clap": (1.0, BACK2_4),
                "chat": (0.45, "0-30/2"), "bell": (0.6, "3 7 14 22 27")}),
    dict(stem="acid_percussion", label="Acid house / syncopated machine accents", bars=2,
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, BACK2_4),
                "rim": (1.0, "3g 6g 11g 14g 19g 22g 27g 30g"), "chat": (0.45, "2-30/4"),
                "perc": (0.5, "2 7 10 15 18 23 26 31"),
                "bass": (0.55, "0 3 6 10 13 16 19 22 26 29")}),
    # A low rumble trailing each kick by a sixteenth and a half.
    dict(stem="techno_rumble", label="Techno / delayed low-end answer", bars=2,
         lanes={"kick": (1.0, EVERY4), "clap": (1.0, "12 28"), "chat": (0.5, "2-30/4"),
                "bass": (0.8, "1-29/4+1/2")}),
    dict(stem="ukg_rim_shuffle", label="Garage / rim-led skipping pocket", bars=2,
         lanes={"kick": (1.0, "0 10 16 23 26"), "snare": (1.0, BACK2_4),
                "rim": (1.0, "1g 3g 7g 9g 11g 15g 17g 21g 25g 27g 31g"),
                "chat": (0.45, "0-30/2"), "ohat": (0.6, "2-30/4")}),
    dict(stem="dnb_push", label="DnB / kick pickup and ghost reply", bars=2,
         lanes={"kick": (1.0, "0 10 15 16 22 26"), "snare": (1.0, "4 12 20 28 7g 23g 31g"),
                "chat": (0.5, "0-30/2")}),
    dict(stem="jungle_switchback", label="Jungle / two-bar switchback", bars=2,
         lanes={"kick": (1.0, "0 2 10 16 18 27"), "snare": (1.0, "4 12 20 26 30 7g 23g"),
                "chat": (0.5, "0-30/2")}),
    dict(stem="amapiano_answer", label="Amapiano / log-like bass answer", bars=2,
         lanes={"kick": (1.0, "0 8 16 24"), "rim": (1.0, "12 28 3g 7g 19g 23g"),
                "shaker": (0.3, "0-31/1"), "bass": (0.9, "3 6 10 19 22 26 30")}),
    dict(stem="dancehall_space", label="Dancehall / spacious offbeat replies", bars=2,
         lanes={"kick": (1.0, "0 8 16 24"), "rim": (1.0, "3g 6g 11g 14g 19g 22g 27g 30g"),
                "chat": (0.4, "2-30/4"), "bass": (0.8, "0 8 16 24")}),
    # A three-tom pickup into the turnaround answers the dembow snares.
    dict(stem="dembow_push", label="Reggaeton / dembow with pickup answer", bars=2,
         lanes={"kick": (1.0, EVERY4), "snare": (1.0, "3 6 11 14 19 22 27 30"),
                "chat": (0.4, "0-30/2"), "tom": (0.6, "29 30 31")}),
)

CLUB_STYLES = 36
