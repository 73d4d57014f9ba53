// placeholder until the GTK backend lands
