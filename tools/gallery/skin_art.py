#!/usr/bin/env python3
"""Writes the program's skin artwork (SVG) into data/skin.

The drawings share one palette so the window, its buttons and its icons stay
consistent; change a colour here and regenerate rather than editing the files.
Usage: tools/gallery/skin_art.py [output-dir]
"""
import os
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..', 'data', 'skin')

# Palette
NAVY_TOP = '#22426b'
NAVY = '#1d3a5f'
NAVY_DEEP = '#172f4d'
EDGE = '#132840'
BODY = '#f4f6f9'
ACCENT = '#2f6fde'
ACCENT_DARK = '#2459b8'
TEAL = '#22a39f'
AMBER = '#e9a23b'
GREEN = '#2e9e5b'
RED = '#d9463e'
INK = '#1f2d3d'
MUTED = '#8a97a8'
WHITE = '#ffffff'


def svg(w, h, body, defs=''):
    d = f'<defs>{defs}</defs>' if defs else ''
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
            f'viewBox="0 0 {w} {h}">{d}{body}</svg>\n')


def write(name, text):
    with open(os.path.join(OUT, name + '.svg'), 'w') as f:
        f.write(text)


TITLE_H = 30


def title_gradient(gid='g'):
    return (f'<linearGradient id="{gid}" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{NAVY_TOP}"/><stop offset="1" stop-color="{NAVY}"/></linearGradient>')


def frame():
    g = title_gradient()
    # Title bar: a 1-pixel edge line, then the gradient; pieces stretch sideways.
    write('frame_top', svg(1, TITLE_H, f'<rect width="1" height="{TITLE_H}" fill="url(#g)"/>'
                                        f'<rect width="1" height="1" fill="{EDGE}"/>', g))
    write('frame_topleft', svg(8, TITLE_H, f'<rect width="8" height="{TITLE_H}" fill="url(#g)"/>'
                                           f'<rect width="8" height="1" fill="{EDGE}"/>'
                                           f'<rect width="1" height="{TITLE_H}" fill="{EDGE}"/>', g))
    write('frame_topright', svg(8, TITLE_H, f'<rect width="8" height="{TITLE_H}" fill="url(#g)"/>'
                                            f'<rect width="8" height="1" fill="{EDGE}"/>'
                                            f'<rect x="7" width="1" height="{TITLE_H}" fill="{EDGE}"/>', g))
    side = f'<rect width="3" height="1" fill="{NAVY}"/><rect width="1" height="1" fill="{EDGE}"/>'
    write('frame_left', svg(3, 1, side))
    write('frame_right', svg(3, 1, f'<rect width="3" height="1" fill="{NAVY}"/>'
                                   f'<rect x="2" width="1" height="1" fill="{EDGE}"/>'))
    write('frame_bottom', svg(1, 3, f'<rect width="1" height="3" fill="{NAVY}"/>'
                                    f'<rect y="2" width="1" height="1" fill="{EDGE}"/>'))
    write('frame_bottomleft', svg(3, 3, f'<rect width="3" height="3" fill="{NAVY}"/>'
                                        f'<rect width="1" height="3" fill="{EDGE}"/>'
                                        f'<rect y="2" width="3" height="1" fill="{EDGE}"/>'))
    write('frame_bottomright', svg(3, 3, f'<rect width="3" height="3" fill="{NAVY}"/>'
                                         f'<rect x="2" width="1" height="3" fill="{EDGE}"/>'
                                         f'<rect y="2" width="3" height="1" fill="{EDGE}"/>'))
    # Header band under the title bar that carries the page tabs.
    hg = (f'<linearGradient id="h" x1="0" y1="0" x2="0" y2="1">'
          f'<stop offset="0" stop-color="{NAVY}"/><stop offset="1" stop-color="{NAVY_DEEP}"/></linearGradient>')
    write('header_bg', svg(1, 84, f'<rect width="1" height="84" fill="url(#h)"/>', hg))


def caption_button(name, glyph, close=False):
    w, h = 24, 22
    states = {
        'normal': ('none', 0.85),
        'hover': ('#e5484d' if close else 'rgba(255,255,255,0.16)', 1.0),
        'down': ('#b83a3f' if close else 'rgba(0,0,0,0.25)', 1.0),
        'disabled': ('none', 0.35),
    }
    for state, (bg, alpha) in states.items():
        fill = bg
        back = ''
        if fill != 'none':
            if fill.startswith('rgba'):
                parts = fill[5:-1].split(',')
                col = '#%02x%02x%02x' % tuple(int(p) for p in parts[:3])
                back = f'<rect x="0" y="0" width="{w}" height="{h}" rx="4" fill="{col}" fill-opacity="{parts[3]}"/>'
            else:
                back = f'<rect x="0" y="0" width="{w}" height="{h}" rx="4" fill="{fill}"/>'
        body = back + f'<g stroke="{WHITE}" stroke-opacity="{alpha}" stroke-width="1.6" fill="none" ' \
                      f'stroke-linecap="round" stroke-linejoin="round">{glyph}</g>'
        write(f'{name}_{state}', svg(w, h, body))


def caption_buttons():
    caption_button('btn_min', '<path d="M7.5 11.5h9"/>')
    caption_button('btn_max', '<rect x="7.5" y="6.5" width="9" height="9" rx="1"/>')
    caption_button('btn_close', '<path d="M8 6.5l8 9M16 6.5l-8 9"/>', close=True)
    caption_button('btn_menu', '<path d="M7 8h10M7 11.5h10M7 15h10"/>')


# Tab icons: drawn in a 40x40 box; `c` is the stroke colour, `f` the fill accent.
def icon_recommend(c, f):
    return (f'<rect x="5" y="5" width="30" height="30" rx="8" fill="{f}" fill-opacity="0.18" stroke="{c}" stroke-width="2"/>'
            f'<path d="M20 11.5l2.6 5.4 5.9.8-4.3 4.1 1 5.8-5.2-2.8-5.2 2.8 1-5.8-4.3-4.1 5.9-.8z" '
            f'fill="{f}" stroke="{c}" stroke-width="1.6" stroke-linejoin="round"/>')


def icon_tasks(c, f):
    return (f'<path d="M8 26v5a3 3 0 0 0 3 3h18a3 3 0 0 0 3-3v-5" fill="none" stroke="{c}" stroke-width="2.2" stroke-linecap="round"/>'
            f'<rect x="16" y="5" width="8" height="13" rx="1.5" fill="{f}"/>'
            f'<path d="M11.5 17h17L20 27z" fill="{f}" stroke="{c}" stroke-width="1.6" stroke-linejoin="round"/>')


def icon_running(c, f):
    return (f'<rect x="5" y="7" width="30" height="22" rx="3" fill="{f}" fill-opacity="0.18" stroke="{c}" stroke-width="2"/>'
            f'<path d="M9 20h5l3-7 4 11 3-6h7" fill="none" stroke="{f}" stroke-width="2.4" stroke-linecap="round" stroke-linejoin="round"/>'
            f'<path d="M14 34h12M20 29v5" stroke="{c}" stroke-width="2" stroke-linecap="round"/>')


def icon_uninstall(c, f):
    return (f'<path d="M7 11h26" stroke="{c}" stroke-width="2.2" stroke-linecap="round"/>'
            f'<path d="M16 11V7.5h8V11" fill="none" stroke="{c}" stroke-width="2" stroke-linejoin="round"/>'
            f'<path d="M10 11l1.8 21.2A2.5 2.5 0 0 0 14.3 34.5h11.4a2.5 2.5 0 0 0 2.5-2.3L30 11z" fill="{f}" fill-opacity="0.22" stroke="{c}" stroke-width="2" stroke-linejoin="round"/>'
            f'<path d="M17 16.5v12M23 16.5v12" stroke="{f}" stroke-width="2.2" stroke-linecap="round"/>')


TAB_W, TAB_H = 84, 80


def tab(name, icon, badge=False):
    light = ('#dbe7fb', '#7fb0ff')
    states = {
        'normal': ('', light),
        'hover': (f'<rect x="3" y="4" width="{TAB_W - 6}" height="{TAB_H - 8}" rx="8" fill="{WHITE}" fill-opacity="0.12"/>', (WHITE, '#9cc2ff')),
        'down': (f'<rect x="3" y="4" width="{TAB_W - 6}" height="{TAB_H - 8}" rx="8" fill="#000000" fill-opacity="0.22"/>', light),
        'selected': (f'<path d="M3 {TAB_H}V12a8 8 0 0 1 8-8h{TAB_W - 22}a8 8 0 0 1 8 8V{TAB_H}z" fill="{BODY}"/>', (INK, ACCENT)),
    }
    for state, (back, (c, f)) in states.items():
        extra = ''
        if badge:
            extra = (f'<circle cx="{TAB_W / 2 + 17}" cy="14" r="7" fill="{AMBER}" stroke="{NAVY}" stroke-width="2"/>'
                     f'<path d="M{TAB_W / 2 + 17} 10.5v4.5M{TAB_W / 2 + 17} 17.3v.2" stroke="{WHITE}" stroke-width="2" stroke-linecap="round"/>')
        body = back + f'<g transform="translate({(TAB_W - 40) // 2} 9)">{icon(c, f)}</g>' + extra
        suffix = state if not badge else 'anim' if state == 'normal' else None
        if suffix is None:
            continue
        write(f'{name}_{suffix}', svg(TAB_W, TAB_H, body))


def tabs():
    tab('tab_recommend', icon_recommend)
    tab('tab_tasks', icon_tasks)
    tab('tab_running', icon_running)
    tab('tab_uninstall', icon_uninstall)
    # The Tasks shortcut's "new task" frame: the same picture with a badge.
    tab('tab_tasks', icon_tasks, badge=True)


def tasks_animation():
    # The Tasks shortcut (48 x 48): the arrow drops into the tray and back.
    for n, dy in enumerate([0, 2, 4, 6, 4, 2], start=1):
        icon = icon_tasks('#dbe7fb', '#7fb0ff').replace('y="5"', f'y="{5 + dy}"').replace(
            'M11.5 17h17L20 27z', f'M11.5 {17 + dy}h17L20 {27 + dy}z')
        write(f'tasks_shortcut_{n}', svg(48, 48, f'<g transform="translate(4 4)">{icon}</g>'))
    # The frame drawn around the shortcut after a task was added: a dashed
    # outline whose dashes run round it.
    w, h = TAB_W + 8, TAB_H + 8
    for n in range(1, 9):
        off = (n - 1) * 4.5
        body = (f'<rect x="2" y="2" width="{w - 4}" height="{h - 4}" rx="10" fill="none" '
                f'stroke="{AMBER}" stroke-opacity="0.35" stroke-width="3"/>'
                f'<rect x="2" y="2" width="{w - 4}" height="{h - 4}" rx="10" fill="none" stroke="{AMBER}" '
                f'stroke-width="3" stroke-linecap="round" stroke-dasharray="24 12" stroke-dashoffset="{-off}"/>')
        write(f'tasks_frame_{n}', svg(w, h, body))


def banner():
    w, h = 190, 26
    grad = lambda a, b: (f'<linearGradient id="b" x1="0" y1="0" x2="1" y2="0">'
                         f'<stop offset="0" stop-color="{a}"/><stop offset="1" stop-color="{b}"/></linearGradient>')
    arrow = (f'<circle cx="14" cy="13" r="8" fill="{WHITE}" fill-opacity="0.25"/>'
             f'<path d="M14 17.5v-9M10 12l4-4 4 4" fill="none" stroke="{WHITE}" stroke-width="2" stroke-linecap="round" stroke-linejoin="round"/>')
    for state, (a, b) in {'normal': (TEAL, '#2bb389'), 'hover': ('#27b5b0', '#33c799'),
                          'down': ('#1b8884', '#23966f')}.items():
        write(f'banner_upgrade_{state}', svg(w, h, f'<rect width="{w}" height="{h}" rx="13" fill="url(#b)"/>' + arrow,
                                             grad(a, b)))


def logo():
    defs = (f'<linearGradient id="l" x1="0" y1="0" x2="1" y2="1">'
            f'<stop offset="0" stop-color="#3b82f0"/><stop offset="1" stop-color="{TEAL}"/></linearGradient>'
            f'<linearGradient id="s" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{WHITE}" stop-opacity="0.35"/><stop offset="1" stop-color="{WHITE}" stop-opacity="0"/></linearGradient>')
    mark = (f'<circle cx="64" cy="64" r="30" fill="none" stroke="{WHITE}" stroke-width="11"/>'
            f'<path d="M64 48v28M53 66l11 11 11-11" fill="none" stroke="{WHITE}" stroke-width="9" stroke-linecap="round" stroke-linejoin="round"/>')
    body = (f'<rect x="6" y="6" width="116" height="116" rx="28" fill="url(#l)"/>'
            f'<path d="M6 62V34A28 28 0 0 1 34 6h60a28 28 0 0 1 28 28v10C88 66 44 70 6 62z" fill="url(#s)"/>' + mark)
    write('logo', svg(128, 128, body, defs))
    # Window icon: the same mark, simplified for 20 pixels.
    small = (f'<rect x="1" y="1" width="18" height="18" rx="5" fill="url(#l)"/>'
             f'<circle cx="10" cy="10" r="4.6" fill="none" stroke="{WHITE}" stroke-width="1.8"/>'
             f'<path d="M10 7.3v4.6M8.2 10.6l1.8 1.8 1.8-1.8" fill="none" stroke="{WHITE}" stroke-width="1.5" stroke-linecap="round" stroke-linejoin="round"/>')
    write('icon', svg(20, 20, small, defs))


def task_icons():
    base = lambda col, inner: svg(20, 20, f'<circle cx="10" cy="10" r="9" fill="{col}"/>' + inner)
    wl = f'stroke="{WHITE}" stroke-width="2" fill="none" stroke-linecap="round" stroke-linejoin="round"'
    write('task_downloading', base(ACCENT, f'<path d="M10 5v8M6.5 9.5L10 13l3.5-3.5M6 15h8" {wl}/>'))
    write('task_paused', base(AMBER, f'<path d="M8 6.5v7M12 6.5v7" {wl}/>'))
    write('task_completed', base(GREEN, f'<path d="M5.8 10.3l2.8 2.8 5.6-5.9" {wl}/>'))
    write('task_installing', base(TEAL, f'<rect x="5.5" y="7.5" width="9" height="7" rx="1" {wl}/><path d="M10 4.5v6M8 8.5l2 2 2-2" {wl}/>'))
    write('task_failed', base(RED, f'<path d="M7 7l6 6M13 7l-6 6" {wl}/>'))


def buttons():
    w, h = 76, 26
    for state, (a, b, text) in {'normal': (ACCENT, ACCENT_DARK, None), 'hover': ('#4584ee', '#2f6fde', None),
                                'down': ('#2459b8', '#1d4a9c', None), 'disabled': ('#b8c4d4', '#aab7c8', None)}.items():
        defs = (f'<linearGradient id="a" x1="0" y1="0" x2="0" y2="1">'
                f'<stop offset="0" stop-color="{a}"/><stop offset="1" stop-color="{b}"/></linearGradient>')
        write(f'btn_action_{state}', svg(w, h, f'<rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" rx="5" fill="url(#a)"/>', defs))
    for state, (fill, stroke) in {'normal': (WHITE, '#c5cfdc'), 'hover': ('#f0f5fe', '#7fa7e8'),
                                  'down': ('#dfe8f7', '#5d8bd8'), 'disabled': ('#f4f6f9', '#dde3eb')}.items():
        write(f'btn_plain_{state}', svg(w, h, f'<rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" rx="5" '
                                              f'fill="{fill}" stroke="{stroke}"/>'))


def panels():
    # Recommendation slot / card background (rounded corners by alpha).
    w, h = 352, 52
    write('panel_bg', svg(w, h, f'<rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" rx="6" fill="{WHITE}" stroke="#dbe2ea"/>'))
    # Background of the rich selected row of a list.
    write('selection_bg', svg(8, 60, f'<rect width="8" height="60" fill="#e8f0fd"/>'
                                     f'<rect width="8" height="1" fill="#b9cff5"/><rect y="59" width="8" height="1" fill="#b9cff5"/>'))


if __name__ == '__main__':
    os.makedirs(OUT, exist_ok=True)
    frame()
    caption_buttons()
    tabs()
    tasks_animation()
    banner()
    logo()
    task_icons()
    buttons()
    panels()
