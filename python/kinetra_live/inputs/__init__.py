"""Inputs: each turns what an operator does (keys, pads, OSC, the web page) into
commands on the one command queue (see `commands`)."""
