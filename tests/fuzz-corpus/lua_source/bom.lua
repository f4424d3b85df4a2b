return 'bom'
