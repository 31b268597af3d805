out.ld:
